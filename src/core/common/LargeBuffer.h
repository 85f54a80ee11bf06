#pragma once
// Buffers of many megabytes for point arrays. They are filled once, front
// to back, right after allocation: with 4 KiB pages every 4 KiB costs a
// page fault, which made first writes cost as much as parsing. Such buffers
// ask for transparent huge pages. Freed with std::free, so VTK arrays can
// take them over (VTK_DATA_ARRAY_FREE).
#include <cstddef>

namespace largebuf {

// std::malloc's contract (nullptr when it fails); huge-page aligned and
// advised from a few megabytes on.
void* Allocate(size_t bytes);
// std::realloc's contract; the grown buffer is advised again.
void* Reallocate(void* p, size_t bytes);

} // namespace largebuf

#include "core/common/LargeBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

namespace largebuf {

namespace {

constexpr size_t kHuge = size_t(2) << 20;
constexpr size_t kWorthIt = 2 * kHuge;

// Only whole huge pages inside the buffer can be backed by one.
void Advise(void* p, size_t bytes)
{
    if (!p || bytes < kWorthIt)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // a hint: failure is harmless
}

} // namespace

void* Allocate(size_t bytes)
{
    if (bytes < kWorthIt)
        return std::malloc(bytes);
    void* p = nullptr;
    if (::posix_memalign(&p, kHuge, bytes) != 0)
        return nullptr;
    Advise(p, bytes);
    return p;
}

void* Reallocate(void* p, size_t bytes)
{
    if (!p)
        return Allocate(bytes);
    void* q = std::realloc(p, bytes);
    Advise(q, bytes);
    return q;
}

} // namespace largebuf

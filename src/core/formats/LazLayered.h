#pragma once
// LAZ's layered compressor (point formats 6 to 10): chunks whose attribute
// groups are arithmetic streams of their own.
#include "core/formats/LazReader.h"

namespace laz {

// Empty when the layered compressor knows `item`, else why not.
std::string CheckLayeredItem(const Item& item);

// The layers a chunk of `layout` lists.
unsigned LayerCount(const Layout& layout);

// One layered chunk: `points` records into `out`; `consumed` (may be none)
// is set to the bytes the chunk's layers take.
std::string DecodeLayeredChunk(const Layout& layout, const uint8_t* bytes, size_t size, uint64_t points, uint8_t* out,
                               size_t* consumed);

} // namespace laz

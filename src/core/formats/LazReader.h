#pragma once
// LAZ (LASzip-compressed LAS): the LASzip record of the VLRs, the chunk
// table, and the decoding of chunks into plain LAS point records, every
// chunk on a core of its own. The LAS reader turns the records into a cloud.
#include "core/formats/LazItems.h"

#include <functional>
#include <string>
#include <vector>

class IProgressSink;
namespace foreign {
class InputFile;
}

namespace laz {

struct Layout {
    unsigned compressor = 0; // 1 point-wise, 2 point-wise chunked, 3 layered chunked
    uint32_t chunkSize = 0;  // points a chunk; 0xFFFFFFFF: variable
    std::vector<Item> items;
    unsigned recordLength = 0;
    bool Variable() const { return chunkSize == 0xFFFFFFFFu || chunkSize == 0; }
};

struct Chunk {
    uint64_t offset = 0; // in the file
    uint64_t bytes = 0;
    uint64_t points = 0;
    uint64_t first = 0; // index of its first point
};

// The LASzip record among `count` VLRs in `vlrs` (the bytes from the end of
// the header to the point data). Empty when found and known, else why not.
std::string ParseVlrs(const uint8_t* vlrs, size_t size, unsigned count, unsigned recordLength, Layout& layout);

// Where the chunks of `points` points lie between `pointOffset` and
// `dataEnd` (the chunk table, or a walk through the chunks where the table
// is missing and their sizes can be known).
std::string PlanChunks(const foreign::InputFile& file, uint64_t pointOffset, uint64_t dataEnd, uint64_t points,
                       const Layout& layout, std::vector<Chunk>& chunks);

// One chunk: its `points` records (recordLength bytes each) into `out`.
// `consumed` (may be none) is set to the bytes the chunk took.
std::string DecodeChunk(const Layout& layout, const uint8_t* bytes, size_t size, uint64_t points, uint8_t* out,
                        size_t* consumed = nullptr);

// Every chunk, on `threads` cores; `deliver(thread, records, count, first)`
// runs on the thread that decoded them (thread 0 is the caller's). "aborted"
// when the sink asked for it.
using Deliver = std::function<void(unsigned thread, const uint8_t* records, size_t count, uint64_t first)>;
std::string DecodeAll(const foreign::InputFile& file, const Layout& layout, const std::vector<Chunk>& chunks,
                      IProgressSink* sink, unsigned threads, const Deliver& deliver);

} // namespace laz

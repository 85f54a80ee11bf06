// The LAZ chunk decoder from the first byte of a chunk: the first input byte
// picks a record layout (point-wise and layered, item versions 1 to 4), the
// next two the chunk's point count, the rest is the chunk. Whatever the
// bytes, decoding stays inside them and inside the records, and a failure
// says why.
#include "core/formats/LazReader.h"

#include <cstdlib>
#include <vector>

namespace {

laz::Layout Make(unsigned compressor, std::vector<laz::Item> items)
{
    laz::Layout l;
    l.compressor = compressor;
    l.chunkSize = 50000;
    l.items = std::move(items);
    for (const laz::Item& i : l.items)
        l.recordLength += i.size;
    return l;
}

const std::vector<laz::Layout>& Layouts()
{
    using laz::Item;
    static const std::vector<laz::Layout> layouts = {
        Make(2, {{laz::Point10, 20, 2}}),
        Make(2, {{laz::Point10, 20, 2}, {laz::GpsTime11, 8, 2}, {laz::Rgb12, 6, 2}}),
        Make(2, {{laz::Point10, 20, 2}, {laz::GpsTime11, 8, 2}, {laz::Rgb12, 6, 2}, {laz::Byte, 27, 2}}),
        Make(1, {{laz::Point10, 20, 1}, {laz::GpsTime11, 8, 1}, {laz::Rgb12, 6, 1}, {laz::Byte, 3, 1}}),
        Make(2, {{laz::Point10, 20, 2}, {laz::GpsTime11, 8, 2}, {laz::WavePacket13, 29, 1}}),
        Make(3, {{laz::Point14, 30, 3}}),
        Make(3, {{laz::Point14, 30, 3}, {laz::Rgb14, 6, 3}}),
        Make(3, {{laz::Point14, 30, 3}, {laz::RgbNir14, 8, 3}, {laz::Byte14, 3, 3}}),
        Make(3, {{laz::Point14, 30, 4}, {laz::RgbNir14, 8, 4}, {laz::Byte14, 2, 4}}),
        Make(3, {{laz::Point14, 30, 3}, {laz::WavePacket14, 29, 3}}),
    };
    return layouts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const laz::Layout& layout = Layouts()[data[0] % Layouts().size()];
    const uint64_t points = 1 + (static_cast<uint64_t>(data[1]) | static_cast<uint64_t>(data[2]) << 8) % 1024;
    std::vector<uint8_t> records(static_cast<size_t>(points * layout.recordLength));
    size_t consumed = 0;
    const std::string why = laz::DecodeChunk(layout, data + 3, size - 3, points, records.data(), &consumed);
    if (why.empty() && consumed > size - 3)
        std::abort(); // a chunk never takes more than it has
    return 0;
}

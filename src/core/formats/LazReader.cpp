#include "core/formats/LazReader.h"
#include "core/formats/LazLayered.h"

#include "core/formats/ForeignModel.h"
#include "core/common/ProgressSink.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace laz {

namespace {

std::string ChunkName(size_t i) { return "chunk " + std::to_string(i + 1); }

// LASzip compresses point records four to ten times; a chunk that claims
// more than 64 points a byte is a lie, and would have its records
// allocated before its decoding could tell.
constexpr uint64_t kMostPointsPerByte = 64;

// The chunk table at `at`: byte sizes (and counts for variable chunks).
std::string ReadTable(const foreign::InputFile& file, uint64_t at, uint64_t dataStart, uint64_t points,
                      const Layout& layout, std::vector<Chunk>& chunks)
{
    const uint64_t fileSize = file.Size();
    uint8_t head[8];
    if (at + 8 > fileSize || !file.ReadAt(head, 8, at))
        return "the chunk table lies past the end of the file";
    if (Get32(head) != 0)
        return "the chunk table is damaged (version " + std::to_string(Get32(head)) + ")";
    const uint64_t count = Get32(head + 4);
    const uint64_t area = at - dataStart;
    // Every chunk holds a point and its raw record, and so many bytes.
    const uint64_t most = std::min<uint64_t>(points, area / layout.recordLength + 1);
    if (count > most)
        return "the chunk table names " + std::to_string(count) + " chunks where the point data holds at most " +
               std::to_string(most);
    if (count == 0)
        return points == 0 ? std::string() : "the chunk table names no chunks for " + std::to_string(points) + " points";
    // Each entry takes a few bytes of the coded table; read what is there.
    const uint64_t tableBytes = std::min<uint64_t>(fileSize - at - 8, 16 * count + 64);
    std::vector<uint8_t> coded(static_cast<size_t>(tableBytes));
    if (!coded.empty() && !file.ReadAt(coded.data(), coded.size(), at + 8))
        return "cannot read the chunk table";
    ArithmeticDecoder ad;
    ad.Init(coded.data(), coded.data() + coded.size());
    IntegerCompressor ic(32, 2);
    uint32_t lastCount = 0, lastBytes = 0;
    uint64_t offset = dataStart, first = 0;
    chunks.clear();
    chunks.reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        Chunk c;
        if (layout.Variable()) {
            lastCount = static_cast<uint32_t>(ic.Decompress(ad, static_cast<int32_t>(lastCount), 0));
            c.points = lastCount;
        } else {
            c.points = std::min<uint64_t>(layout.chunkSize, points - std::min(points, first));
        }
        lastBytes = static_cast<uint32_t>(ic.Decompress(ad, static_cast<int32_t>(lastBytes), 1));
        c.bytes = lastBytes;
        c.offset = offset;
        c.first = first;
        if (ad.Overrun())
            return "the chunk table is cut short (at " + ChunkName(static_cast<size_t>(i)) + ")";
        if (c.bytes == 0 || c.bytes > at - offset || c.points == 0 || c.points > c.bytes * kMostPointsPerByte)
            return "the chunk table is damaged: " + ChunkName(static_cast<size_t>(i)) + " would hold " +
                   std::to_string(c.points) + " points in " + std::to_string(c.bytes) + " bytes from byte " +
                   std::to_string(offset);
        offset += c.bytes;
        first += c.points;
        chunks.push_back(c);
    }
    if (first != points)
        return "the chunk table's counts add up to " + std::to_string(first) + " points, the header says " +
               std::to_string(points);
    if (offset != at)
        return "the chunk table's sizes add up to " + std::to_string(offset - dataStart) +
               " bytes where the chunks take " + std::to_string(area);
    return std::string();
}

} // namespace

std::string ParseVlrs(const uint8_t* v, size_t size, unsigned count, unsigned recordLength, Layout& layout)
{
    size_t at = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (at + 54 > size)
            return "the VLRs run past the point data (VLR " + std::to_string(i + 1) + ")";
        const uint16_t id = Get16(v + at + 18);
        const size_t length = Get16(v + at + 20);
        if (at + 54 + length > size)
            return "the VLRs run past the point data (VLR " + std::to_string(i + 1) + ")";
        char user[17] = {};
        std::memcpy(user, v + at + 2, 16);
        if (std::strcmp(user, "laszip encoded") == 0 && id == 22204) {
            const uint8_t* p = v + at + 54;
            if (length < 34)
                return "the LASzip record is cut short";
            layout.compressor = Get16(p);
            const unsigned coder = Get16(p + 2);
            layout.chunkSize = Get32(p + 12);
            const unsigned items = Get16(p + 32);
            if (layout.compressor < 1 || layout.compressor > 3)
                return "the LASzip record names compressor " + std::to_string(layout.compressor) +
                       " (1 to 3 are known)";
            if (coder != 0)
                return "the LASzip record names coder " + std::to_string(coder) + " (only the arithmetic coder, 0, is known)";
            if (items == 0 || length != 34 + 6 * items)
                return "the LASzip record's item list does not fit its length";
            unsigned total = 0;
            layout.items.clear();
            for (unsigned k = 0; k < items; ++k) {
                Item item;
                item.type = Get16(p + 34 + 6 * k);
                item.size = Get16(p + 36 + 6 * k);
                item.version = Get16(p + 38 + 6 * k);
                total += item.size;
                layout.items.push_back(item);
            }
            if (total != recordLength)
                return "the LASzip items take " + std::to_string(total) + " bytes of a " +
                       std::to_string(recordLength) + "-byte point record";
            layout.recordLength = recordLength;
            if (layout.compressor == 3) {
                if (layout.items[0].type != Point14)
                    return "the LASzip record names the layered compressor for records without POINT14";
                for (const Item& item : layout.items) {
                    const std::string why = CheckLayeredItem(item);
                    if (!why.empty())
                        return why;
                }
                return std::string();
            }
            for (const Item& item : layout.items) {
                std::string why;
                if (!MakePointwiseItem(item, &why))
                    return why;
            }
            return std::string();
        }
        at += 54 + length;
    }
    return "the file is marked as LAZ but has no LASzip record";
}

std::string DecodeChunk(const Layout& layout, const uint8_t* bytes, size_t size, uint64_t points, uint8_t* out,
                        size_t* consumed)
{
    const size_t record = layout.recordLength;
    if (points == 0)
        return std::string();
    if (size < record)
        return "its bytes run out before its first point";
    if (layout.compressor == 3)
        return DecodeLayeredChunk(layout, bytes, size, points, out, consumed);
    std::memcpy(out, bytes, record);
    if (points == 1) {
        // A one-point chunk: the raw point and an empty stream of 4 bytes.
        if (consumed)
            *consumed = std::min(size, record + 4);
        return std::string();
    }
    std::vector<std::unique_ptr<PointwiseItem>> items;
    size_t at = 0;
    std::vector<size_t> starts;
    for (const Item& item : layout.items) {
        std::string why;
        items.push_back(MakePointwiseItem(item, &why));
        if (!items.back())
            return why;
        items.back()->Init(bytes + at);
        starts.push_back(at);
        at += item.size;
    }
    ArithmeticDecoder ad;
    ad.Init(bytes + record, bytes + size);
    for (uint64_t i = 1; i < points; ++i) {
        uint8_t* r = out + i * record;
        for (size_t k = 0; k < items.size(); ++k)
            items[k]->Decode(ad, r + starts[k]);
        // Overruns stick: looked at now and then, and at the end.
        if ((i & 1023) == 0 && ad.Overrun())
            return "its bytes run out before its points do (by point " + std::to_string(i + 1) + " of " +
                   std::to_string(points) + ")";
    }
    if (ad.Overrun())
        return "its bytes run out before its points do";
    if (consumed)
        *consumed = static_cast<size_t>(ad.Position() - bytes);
    return std::string();
}

std::string PlanChunks(const foreign::InputFile& file, uint64_t pointOffset, uint64_t dataEnd, uint64_t points,
                       const Layout& layout, std::vector<Chunk>& chunks)
{
    chunks.clear();
    if (points == 0)
        return std::string();
    if (layout.compressor == 1) {
        if (dataEnd <= pointOffset)
            return "the point data is missing";
        if (points > (dataEnd - pointOffset) * kMostPointsPerByte)
            return "the header declares " + std::to_string(points) + " points, far more than the " +
                   std::to_string(dataEnd - pointOffset) + " bytes of point data can hold";
        chunks.push_back({pointOffset, dataEnd - pointOffset, points, 0});
        return std::string();
    }
    const uint64_t dataStart = pointOffset + 8;
    uint8_t pointer[8];
    if (dataStart > dataEnd || !file.ReadAt(pointer, 8, pointOffset))
        return "the point data is missing";
    uint64_t table = Get64(pointer);
    // A writer that could not seek back put the table's place at the end.
    if (static_cast<int64_t>(table) <= static_cast<int64_t>(pointOffset)) {
        uint8_t last[8];
        table = file.Size() >= 8 && file.ReadAt(last, 8, file.Size() - 8) ? Get64(last) : 0;
    }
    if (table > dataStart && table <= file.Size() - 8) {
        const std::string problem = ReadTable(file, table, dataStart, points, layout, chunks);
        if (problem.empty() || layout.Variable())
            return problem;
    }
    if (layout.Variable() && layout.compressor != 3)
        return "the chunk table is missing, and the chunks' sizes cannot be known without it";
    // Without a table: layered chunks list their points and sizes; a fixed
    // point-wise chunk's stream ends where its last point's decoding ends.
    // Either way walking the chunks finds them.
    chunks.clear();
    uint64_t offset = dataStart, first = 0;
    const uint64_t end = table > dataStart && table <= dataEnd ? table : dataEnd;
    std::vector<uint8_t> bytes, records;
    while (first < points) {
        Chunk c;
        c.offset = offset;
        c.first = first;
        c.points = layout.Variable() ? 0 : std::min<uint64_t>(layout.chunkSize, points - first);
        const uint64_t rest = end - std::min(end, offset);
        if (layout.compressor == 3) {
            const size_t head = layout.recordLength + 4 + 4 * size_t(LayerCount(layout));
            bytes.resize(head);
            if (rest < head || !file.ReadAt(bytes.data(), head, offset))
                return "the chunk table is missing and " + ChunkName(chunks.size()) + " lies past the end of the point data";
            if (layout.Variable())
                c.points = std::min<uint64_t>(Get32(bytes.data() + layout.recordLength), points - first);
            if (c.points == 0)
                return "the chunk table is missing and " + ChunkName(chunks.size()) + " says it holds no points";
            c.bytes = head;
            for (size_t i = layout.recordLength + 4; i < head; i += 4)
                c.bytes += Get32(bytes.data() + i);
            if (c.bytes > rest || c.points > c.bytes * kMostPointsPerByte)
                return "the chunk table is missing and " + ChunkName(chunks.size()) +
                       " runs past the end of the point data or claims more points than its bytes hold";
        } else {
            if (c.points > rest * kMostPointsPerByte)
                return "the chunk table is missing and " + ChunkName(chunks.size()) +
                       " would hold more points than the point data can";
            // A window that can hold the chunk, grown while it cannot.
            uint64_t window = std::min<uint64_t>(rest, c.points * (layout.recordLength + 16) + 1024);
            records.resize(static_cast<size_t>(c.points * layout.recordLength));
            for (;;) {
                bytes.resize(static_cast<size_t>(window));
                if (window == 0 || !file.ReadAt(bytes.data(), bytes.size(), offset))
                    return "the chunk table is missing and " + ChunkName(chunks.size()) +
                           " lies past the end of the point data";
                size_t used = 0;
                const std::string problem = DecodeChunk(layout, bytes.data(), bytes.size(), c.points, records.data(), &used);
                if (problem.empty()) {
                    c.bytes = used;
                    break;
                }
                if (window == rest)
                    return "the chunk table is missing and " + ChunkName(chunks.size()) + " cannot be read: " + problem;
                window = std::min<uint64_t>(rest, 2 * window);
            }
        }
        offset += c.bytes;
        first += c.points;
        chunks.push_back(c);
    }
    return std::string();
}

std::string DecodeAll(const foreign::InputFile& file, const Layout& layout, const std::vector<Chunk>& chunks,
                      IProgressSink* sink, unsigned threads, const Deliver& deliver)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex failure;
    std::string problem;
    uint64_t total = 0;
    for (const Chunk& c : chunks)
        total += c.points;
    std::atomic<uint64_t> done{0};
    auto work = [&](unsigned thread) {
        std::vector<uint8_t> bytes, records;
        for (size_t i = next++; i < chunks.size() && !stop; i = next++) {
            const Chunk& c = chunks[i];
            std::string why;
            bytes.resize(static_cast<size_t>(c.bytes));
            records.resize(static_cast<size_t>(c.points * layout.recordLength));
            if (!file.ReadAt(bytes.data(), bytes.size(), c.offset))
                why = "it lies past the end of the file";
            else
                why = DecodeChunk(layout, bytes.data(), bytes.size(), c.points, records.data());
            if (!why.empty()) {
                std::lock_guard<std::mutex> lock(failure);
                if (problem.empty())
                    problem = ChunkName(i) + " of " + std::to_string(chunks.size()) + " (at byte " +
                              std::to_string(c.offset) + "): " + why;
                stop = true;
                return;
            }
            deliver(thread, records.data(), static_cast<size_t>(c.points), c.first);
            done += c.points;
            // Progress and Abort from the caller's thread only.
            if (thread == 0 && ProgressCheckpoint(sink, static_cast<double>(done), static_cast<double>(total))) {
                std::lock_guard<std::mutex> lock(failure);
                if (problem.empty())
                    problem = "aborted";
                stop = true;
                return;
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool)
        t.join();
    return problem;
}

} // namespace laz

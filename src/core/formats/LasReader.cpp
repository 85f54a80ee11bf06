#include "core/formats/LasReader.h"

#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/LazReader.h"
#include "core/common/ProgressSink.h"

#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

// LAS is little-endian; so is every machine this builds for, but the
// reads below do not depend on it.
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const unsigned char* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }
double F64(const unsigned char* p)
{
    const uint64_t bits = U64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

namespace las {

unsigned MinimumRecordLength(int format)
{
    static const unsigned kLengths[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return format >= 0 && format <= 10 ? kLengths[format] : 0;
}

int ColourOffset(int format)
{
    switch (format) {
    case 2: return 20;
    case 3:
    case 5: return 28;
    case 7:
    case 8:
    case 10: return 30;
    default: return -1;
    }
}

std::string ParseHeader(const unsigned char* b, size_t available, uint64_t fileSize, Header& h)
{
    h = Header();
    if (available < 4 || std::memcmp(b, "LASF", 4) != 0)
        return "not a LAS file (no \"LASF\" signature)";
    if (available < 227 || fileSize < 227)
        return "the LAS header is cut short";
    h.versionMajor = b[24];
    h.versionMinor = b[25];
    if (h.versionMajor != 1 || h.versionMinor > 4)
        return "LAS version " + std::to_string(h.versionMajor) + "." + std::to_string(h.versionMinor) +
               " is not supported (1.0 to 1.4 are)";
    h.headerSize = U16(b + 94);
    h.pointOffset = U32(b + 96);
    const unsigned rawFormat = b[104];
    h.recordLength = U16(b + 105);
    const unsigned needed = h.versionMinor >= 4 ? 375u : h.versionMinor == 3 ? 235u : 227u;
    if (h.headerSize < needed || h.headerSize > fileSize)
        return "the LAS header size (" + std::to_string(h.headerSize) + ") does not fit its version or the file";
    if (available < needed)
        return "the LAS header is cut short";
    // LAZ marks its compressed records in the two high bits of the format.
    h.compressed = (rawFormat & 0xC0) != 0;
    h.format = static_cast<int>(rawFormat & 0x3F);
    h.vlrCount = U32(b + 100);
    if (h.versionMinor >= 4)
        h.evlrStart = U64(b + 235);
    if (h.format > 10)
        return "point format " + std::to_string(h.format) + " is not supported (0 to 10 are)";
    if (h.recordLength < MinimumRecordLength(h.format))
        return "point records of " + std::to_string(h.recordLength) + " bytes are too short for point format " +
               std::to_string(h.format);
    h.count = U32(b + 107);
    if (h.versionMinor >= 4) {
        const uint64_t extended = U64(b + 247);
        if (extended != 0 || h.count == 0)
            h.count = extended;
    }
    for (int k = 0; k < 3; ++k) {
        h.scale[k] = F64(b + 131 + 8 * k);
        h.offset[k] = F64(b + 155 + 8 * k);
        h.max[k] = F64(b + 179 + 16 * k);
        h.min[k] = F64(b + 187 + 16 * k);
        if (!std::isfinite(h.scale[k]) || h.scale[k] == 0.0 || !std::isfinite(h.offset[k]))
            return "the LAS header's scale or offset is not a usable number";
    }
    if (h.pointOffset < h.headerSize || h.pointOffset > fileSize)
        return "the LAS point data start (" + std::to_string(h.pointOffset) + ") lies outside the file";
    // Compressed records are smaller than plain ones: the chunks are checked
    // against the file as they are planned.
    const uint64_t room = (fileSize - h.pointOffset) / h.recordLength;
    if (!h.compressed && h.count > room)
        return "the LAS header declares " + std::to_string(h.count) + " points but the file holds at most " +
               std::to_string(room);
    return std::string();
}

} // namespace las

// ---------------------------------------------------------------- points

namespace foreign {

namespace {

// The header's offset where it lies near the points (the file's own
// frame, round numbers); otherwise the bounding box's centre, as for XYZ.
bool ChooseOffset(const las::Header& h, const double* p, size_t n, double offset[3])
{
    double lo[3], hi[3];
    if (!clouddata::Bounds(p, n, lo, hi))
        return false;
    bool near = true;
    double centre[3];
    for (int k = 0; k < 3; ++k) {
        centre[k] = std::round((lo[k] + hi[k]) / 2.0);
        const double reach = std::max(hi[k] - lo[k], 1000.0);
        near = near && std::isfinite(centre[k]) && std::fabs(h.offset[k] - centre[k]) <= reach;
    }
    for (int k = 0; k < 3; ++k)
        offset[k] = near ? h.offset[k] : centre[k];
    return std::isfinite(offset[0]) && std::isfinite(offset[1]) && std::isfinite(offset[2]);
}

// The point records into the cloud's arrays (colours still 16-bit), in
// chunks of about 4 MB with progress and Abort between them.
struct RecordDecoder {
    const las::Header& h;
    const clouddata::Arrays& arrays;
    uint16_t* wide;
    int colourAt = las::ColourOffset(h.format);
    uint16_t colourBits = 0;
    bool anyIntensity = false;

    // Empty when read, "aborted", or why not.
    std::string ReadAll(const InputFile& file, size_t n, IProgressSink* sink)
    {
        const size_t length = h.recordLength;
        const size_t perChunk = std::max<size_t>(1, (size_t(4) << 20) / length);
        std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[perChunk * length]);
        if (!chunk)
            return "not enough memory";
        for (size_t first = 0; first < n; first += perChunk) {
            const size_t count = std::min(perChunk, n - first);
            if (!file.ReadAt(chunk.get(), count * length, h.pointOffset + static_cast<uint64_t>(first) * length))
                return "the file ends before its last point record";
            for (size_t i = 0; i < count; ++i)
                Decode(chunk.get() + i * length, first + i);
            if (ProgressCheckpoint(sink, static_cast<double>(first + count), static_cast<double>(n)))
                return "aborted";
        }
        return std::string();
    }

    void Decode(const unsigned char* r, size_t index)
    {
        double* p = arrays.points + 3 * index;
        for (int k = 0; k < 3; ++k)
            p[k] = static_cast<double>(static_cast<int32_t>(U32(r + 4 * k))) * h.scale[k] + h.offset[k];
        const uint16_t intensity = U16(r + 12);
        anyIntensity = anyIntensity || intensity != 0;
        arrays.intensity[index] = intensity;
        if (wide) {
            uint16_t* c = wide + 3 * index;
            for (int k = 0; k < 3; ++k) {
                c[k] = U16(r + colourAt + 2 * k);
                colourBits = static_cast<uint16_t>(colourBits | c[k]);
            }
        }
    }
};

} // namespace

Result ReadLas(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    InputFile file;
    const std::string unreadable = file.Open(path);
    if (!unreadable.empty())
        return fail(unreadable);
    const uint64_t fileSize = static_cast<uint64_t>(file.Size());
    unsigned char head[375] = {};
    const size_t headBytes = static_cast<size_t>(std::min<uint64_t>(sizeof head, fileSize));
    if (!file.ReadAt(head, headBytes, 0))
        return fail("cannot read the LAS header");
    las::Header h;
    const std::string problem = las::ParseHeader(head, headBytes, fileSize, h);
    if (!problem.empty())
        return fail(problem);

    if (h.count == 0)
        return fail(h.compressed ? "the LAZ file holds no points" : "the LAS file holds no points");
    // LAZ: the chunks are found and checked before anything is allocated.
    laz::Layout layout;
    std::vector<laz::Chunk> chunks;
    if (h.compressed) {
        std::vector<uint8_t> vlrs(static_cast<size_t>(h.pointOffset - h.headerSize));
        if (!vlrs.empty() && !file.ReadAt(vlrs.data(), vlrs.size(), h.headerSize))
            return fail("cannot read the VLRs");
        std::string lazProblem = laz::ParseVlrs(vlrs.data(), vlrs.size(), h.vlrCount, h.recordLength, layout);
        const uint64_t dataEnd = h.evlrStart > h.pointOffset && h.evlrStart <= fileSize ? h.evlrStart : fileSize;
        if (lazProblem.empty())
            lazProblem = laz::PlanChunks(file, h.pointOffset, dataEnd, h.count, layout, chunks);
        if (!lazProblem.empty())
            return fail(lazProblem);
    }
    const size_t n = static_cast<size_t>(h.count);
    const int colourAt = las::ColourOffset(h.format);
    clouddata::Arrays arrays;
    vtkSmartPointer<vtkPolyData> data = clouddata::NewCloud(n, colourAt >= 0, true, arrays);
    // The 16-bit colours until it is known whether they use 16 bits.
    std::unique_ptr<uint16_t[]> wide;
    if (data && colourAt >= 0)
        wide.reset(new (std::nothrow) uint16_t[std::max<size_t>(1, 3 * n)]);
    if (!data || (colourAt >= 0 && !wide))
        return fail("not enough memory for " + std::to_string(n) + " points");

    RecordDecoder decoder{h, arrays, wide.get()};
    uint16_t colourBits = 0;
    bool anyIntensity = false;
    if (h.compressed) {
        // Chunks on every core, each thread with a record decoder of its own.
        const unsigned threads = std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(),
                                                                 static_cast<unsigned>(chunks.size())));
        std::vector<RecordDecoder> decoders(threads, decoder);
        const std::string lazProblem =
            laz::DecodeAll(file, layout, chunks, sink, threads,
                           [&](unsigned t, const uint8_t* records, size_t count, uint64_t first) {
                               for (size_t i = 0; i < count; ++i)
                                   decoders[t].Decode(records + i * h.recordLength, static_cast<size_t>(first + i));
                           });
        if (lazProblem == "aborted")
            return Result::Aborted;
        if (!lazProblem.empty())
            return fail(lazProblem);
        for (const RecordDecoder& d : decoders) {
            colourBits = static_cast<uint16_t>(colourBits | d.colourBits);
            anyIntensity = anyIntensity || d.anyIntensity;
        }
    } else {
        const std::string readProblem = decoder.ReadAll(file, n, sink);
        if (readProblem == "aborted")
            return Result::Aborted;
        if (!readProblem.empty())
            return fail(readProblem);
        colourBits = decoder.colourBits;
        anyIntensity = decoder.anyIntensity;
    }

    // 16-bit colours keep their high byte; files that store 8-bit values
    // (none above 255) keep them as they are. All black is no colour.
    if (colourAt >= 0) {
        const int shift = colourBits > 255 ? 8 : 0;
        for (size_t i = 0; i < 3 * n; ++i)
            arrays.rgb[i] = static_cast<unsigned char>(wide[i] >> shift);
        wide.reset();
        if (colourBits == 0)
            data->GetPointData()->RemoveArray("RGB");
    }
    if (!anyIntensity)
        data->GetPointData()->RemoveArray("Intensity");

    if (!ChooseOffset(h, arrays.points, n, out.offset))
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(arrays.points, n, out.offset);
    if (!clouddata::AddVertexCells(data))
        return fail("not enough memory for the vertex cells");
    out.data = data;
    return Result::Ok;
}

} // namespace foreign

// LAZ: the arithmetic coder's building blocks, every point record of the
// point-wise files of other writers against their plain LAS twins (byte for
// byte), the cloud a LAZ file opens as against its twin's, and damaged files.
#include "Fixtures.h"

#include "core/common/ProgressSink.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/LasReader.h"
#include "core/formats/LazReader.h"

#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const std::string kData = std::string(QUARLON_SHARED_DATA) + "/laz/";

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The point records of a LAZ file, decoded; empty with the reason in `why`.
std::string DecodeRecords(const std::string& path, las::Header& h, std::string& why)
{
    foreign::InputFile file;
    why = file.Open(path);
    if (!why.empty())
        return std::string();
    const std::string all = Bytes(path);
    why = las::ParseHeader(reinterpret_cast<const unsigned char*>(all.data()), std::min<size_t>(all.size(), 375),
                           all.size(), h);
    if (!why.empty())
        return std::string();
    laz::Layout layout;
    why = laz::ParseVlrs(reinterpret_cast<const uint8_t*>(all.data()) + h.headerSize, h.pointOffset - h.headerSize,
                         h.vlrCount, h.recordLength, layout);
    std::vector<laz::Chunk> chunks;
    if (why.empty())
        why = laz::PlanChunks(file, h.pointOffset, all.size(), h.count, layout, chunks);
    if (!why.empty())
        return std::string();
    std::string records(static_cast<size_t>(h.count * h.recordLength), '\0');
    why = laz::DecodeAll(file, layout, chunks, nullptr, 2,
                         [&](unsigned, const uint8_t* r, size_t count, uint64_t first) {
                             std::memcpy(&records[static_cast<size_t>(first * h.recordLength)], r,
                                         count * h.recordLength);
                         });
    return records;
}

std::string LasRecords(const std::string& path, las::Header& h)
{
    const std::string all = Bytes(path);
    EXPECT_EQ(las::ParseHeader(reinterpret_cast<const unsigned char*>(all.data()), std::min<size_t>(all.size(), 375),
                               all.size(), h),
              "");
    return all.substr(static_cast<size_t>(h.pointOffset), static_cast<size_t>(h.count * h.recordLength));
}

} // namespace

TEST(Laz, ModelsAndCoderFollowTheFormat)
{
    // Values worked out by hand from the format's rules.
    // A two-symbol model: counts 1 and 1, total 2, scale 2^30, so the
    // second symbol starts at 2^30 >> 16 = 16384; then cycle (2 + 6) / 2.
    laz::SymbolModel two(2);
    EXPECT_EQ(two.distribution[0], 0u);
    EXPECT_EQ(two.distribution[1], 16384u);
    EXPECT_EQ(two.cycle, 4u);
    EXPECT_EQ(two.until, 4u);
    // Its threshold at the first decode: 16384 * (0xFFFFFFFF >> 15) =
    // 0x7FFFC000; a value at it is the second symbol, one below the first.
    laz::ArithmeticDecoder ad;
    const uint8_t at[4] = {0x7F, 0xFF, 0xC0, 0x00}, below[4] = {0x7F, 0xFF, 0xBF, 0xFF};
    ad.Init(at, at + 4);
    EXPECT_EQ(ad.DecodeSymbol(two), 1u);
    laz::SymbolModel fresh(2);
    ad.Init(below, below + 4);
    EXPECT_EQ(ad.DecodeSymbol(fresh), 0u);
    EXPECT_FALSE(ad.Overrun());

    // A bit model after four zeros: n0 = 5, n = 2 + 4 = 6, scale
    // 2^31 / 6 = 357913941, p0 = 5 * scale >> 18 = 6826, next cycle 5.
    laz::BitModel bit;
    EXPECT_EQ(bit.p0, 4096u);
    const uint8_t zeros[16] = {};
    ad.Init(zeros, zeros + sizeof zeros);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ad.DecodeBit(bit), 0u);
    EXPECT_EQ(bit.n0, 5u);
    EXPECT_EQ(bit.n, 6u);
    EXPECT_EQ(bit.p0, 6826u);
    EXPECT_EQ(bit.cycle, 5u);

    // Decoder tables: 17 to 32 symbols take 3 bits (8 entries, shift 12),
    // 33 to 64 take 4; starts increase strictly.
    laz::SymbolModel small(32);
    EXPECT_EQ(small.tableSize, 8u);
    EXPECT_EQ(small.tableShift, 12u);
    laz::SymbolModel m(33);
    EXPECT_EQ(m.tableSize, 16u);
    EXPECT_EQ(m.tableShift, 11u);
    for (uint32_t k = 1; k < 33; ++k)
        EXPECT_GT(m.distribution[k], m.distribution[k - 1]);

    // The integer compressor on a stream of zeros: k = 0 and a zero
    // corrector, so the prediction comes back, folded into 16 bits.
    laz::IntegerCompressor ic16(16, 1);
    ad.Init(zeros, zeros + sizeof zeros);
    EXPECT_EQ(ic16.Decompress(ad, 1234, 0), 1234);
    EXPECT_EQ(ic16.K(), 0u);
    EXPECT_EQ(ic16.Decompress(ad, 70000, 0), 70000 - 65536);
    EXPECT_EQ(ic16.Decompress(ad, -5, 0), 65536 - 5);
    // 32 bits: no folding, wrapping sums.
    laz::IntegerCompressor ic32(32, 2);
    EXPECT_EQ(ic32.Decompress(ad, INT32_MIN, 1), INT32_MIN);
    EXPECT_FALSE(ad.Overrun());

    // An empty stream is four bytes; fewer is a damaged stream.
    ad.Init(zeros, zeros + 2);
    EXPECT_TRUE(ad.Overrun());
}

TEST(Laz, FilesGiveTheirTwinsRecordsByteForByte)
{
    const char* const pairs[][2] = {
        {"point10.las.laz", "point10.las"},
        {"point-time.las.laz", "point-time.las"},
        {"point-color.las.laz", "point-color.las"},
        {"point-color-time.las.laz", "point-color-time.las"},
        {"extrabytes.laz", "extrabytes.las"},
        {"1815.laz", "1815.las"},
        {"point10-1.0.laz", "point10-1.0.las"},
        {"point-version-1-point-wise.laz", "point-version-1-point-wise.las"},
        {"gen-f2-v2-variable-chunks.laz", "gen-f2-v2-variable-chunks.las"},
        {"gen-f3-v1-pointwise.laz", "gen-f3-v1-pointwise.las"},
        {"gen-f4-v2-wavepacket.laz", "gen-f4-v2-wavepacket.las"},
        // The layered compressor: formats 6 to 8, four scanner channels
        // switching often in item versions 3 and 4, a one-point last chunk.
        {"gen-f6-one-point-last-chunk.laz", "gen-f6-one-point-last-chunk.las"},
        {"gen-f7-v3-channels.laz", "gen-f7-v3-channels.las"},
        {"gen-f8-v4-channels.laz", "gen-f8-v4-channels.las"},
        {"1.2-with-color.copc.laz", "1.2-with-color.copc.decoded.las"},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair[0]);
        las::Header lazHeader, lasHeader;
        std::string why;
        const std::string decoded = DecodeRecords(kData + pair[0], lazHeader, why);
        ASSERT_EQ(why, "");
        const std::string plain = LasRecords(kData + pair[1], lasHeader);
        ASSERT_TRUE(lazHeader.compressed);
        ASSERT_EQ(lazHeader.count, lasHeader.count);
        ASSERT_EQ(lazHeader.recordLength, lasHeader.recordLength);
        ASSERT_EQ(decoded.size(), plain.size());
        size_t first = 0;
        while (first < decoded.size() && decoded[first] == plain[first])
            ++first;
        EXPECT_EQ(first, decoded.size()) << "first difference in point " << first / lazHeader.recordLength;
    }
}

TEST(Laz, SeveralExtraBytesInFormat8GiveTheIndependentDecodersRecords)
{
    // 697,721 points in 14 chunks (POINT14, RGBNIR14 and three BYTE14
    // layers, version 3). The independent decoder (laz-perf 0.0.7, through
    // ../shared/tools/laz2las.js) gives records whose 64-bit FNV-1a hash is
    // this one; the 28 MB copy itself is not kept.
    las::Header h;
    std::string why;
    const std::string decoded = DecodeRecords(kData + "las_with_several_extra_byte_bloc.laz", h, why);
    ASSERT_EQ(why, "");
    ASSERT_EQ(h.count, 697721u);
    ASSERT_EQ(h.recordLength, 41u);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : decoded) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3ull;
    }
    EXPECT_EQ(hash, 0x869a895b0949485cull);
}

TEST(Laz, OpensAsTheSameCloudAsItsTwin)
{
    for (const char* stem : {"point-color-time", "extrabytes"}) {
        SCOPED_TRACE(stem);
        foreign::Model a, b;
        std::string why;
        const std::string laz = std::string(stem) == "extrabytes" ? kData + "extrabytes.laz" : kData + stem + ".las.laz";
        ASSERT_EQ(foreign::Read(laz, a, nullptr, &why), foreign::Result::Ok) << why;
        ASSERT_EQ(foreign::Read(kData + stem + ".las", b, nullptr, &why), foreign::Result::Ok) << why;
        ASSERT_EQ(a.data->GetNumberOfPoints(), b.data->GetNumberOfPoints());
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(a.offset[k], b.offset[k]);
        for (vtkIdType i = 0; i < a.data->GetNumberOfPoints(); i += 7) {
            double p[3], q[3];
            a.data->GetPoint(i, p);
            b.data->GetPoint(i, q);
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(p[k], q[k]) << "point " << i;
        }
        for (const char* name : {"RGB", "Intensity"}) {
            vtkDataArray* x = a.data->GetPointData()->GetArray(name);
            vtkDataArray* y = b.data->GetPointData()->GetArray(name);
            ASSERT_EQ(x != nullptr, y != nullptr) << name;
            if (x) {
                for (vtkIdType i = 0; i < x->GetNumberOfTuples(); i += 5)
                    ASSERT_EQ(x->GetComponent(i, 0), y->GetComponent(i, 0)) << name << " " << i;
            }
        }
    }
}

TEST(Laz, DamagedFilesFailFastNamingWhatIsWrong)
{
    TempDir dir;
    const std::string good = Bytes(kData + "gen-f2-v2-variable-chunks.laz");
    las::Header h;
    ASSERT_EQ(las::ParseHeader(reinterpret_cast<const unsigned char*>(good.data()), 375, good.size(), h), "");
    std::string vlrAt = good.substr(h.headerSize, h.pointOffset - h.headerSize);
    const size_t laszip = good.find("laszip encoded");
    ASSERT_NE(laszip, std::string::npos);
    const size_t payload = laszip - 2 + 54;
    uint64_t table = 0;
    std::memcpy(&table, good.data() + h.pointOffset, 8);

    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    std::vector<Case> cases;
    auto changed = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        std::string b = good;
        size_t i = at;
        for (uint8_t v : bytes)
            b[i++] = static_cast<char>(v);
        return b;
    };
    cases.push_back({"cut.laz", good.substr(0, good.size() / 2), "chunk table"});
    cases.push_back({"compressor.laz", changed(payload, {9, 0}), "compressor 9"});
    cases.push_back({"coder.laz", changed(payload + 2, {1, 0}), "coder 1"});
    cases.push_back({"item.laz", changed(payload + 34 + 4, {7, 0}), "version 7"});
    // The pointer names a table past the end; variable chunks cannot be walked.
    cases.push_back({"pointer.laz", changed(h.pointOffset, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}), "chunk table is missing"});
    // A chunk's bytes damaged: its stream runs out or its table entry lies.
    {
        std::string b = good;
        b.resize(static_cast<size_t>(table));
        b += good.substr(static_cast<size_t>(table));
        for (size_t i = h.pointOffset + 8 + 40; i < h.pointOffset + 8 + 400; ++i)
            b[i] = static_cast<char>(0xFF);
        cases.push_back({"stream.laz", b, ""});
    }
    // The header declares far more points than the chunks hold.
    cases.push_back({"count.laz", changed(107, {0xFF, 0xFF, 0xFF, 0x7F}), "points"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name);
        std::ofstream(path, std::ios::binary) << c.bytes;
        foreign::Model model;
        std::string why;
        const auto start = std::chrono::steady_clock::now();
        const foreign::Result r = foreign::Read(path, model, nullptr, &why);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
        if (std::string(c.name) == "stream.laz") {
            // Damaged point bytes either fail naming the chunk or decode to
            // other points; they never crash or hang.
            if (r == foreign::Result::Failed) {
                EXPECT_NE(why.find("chunk 1"), std::string::npos) << why;
            }
            continue;
        }
        EXPECT_EQ(r, foreign::Result::Failed);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

TEST(Laz, ABillionPointsDeclaredInAFewBytesAllocateNothing)
{
    // The point-wise compressor 1 has no table: the header's count alone
    // would size the records. 2^31 points in 160 kB is refused at once.
    TempDir dir;
    std::string bytes = Bytes(kData + "gen-f3-v1-pointwise.laz");
    const uint32_t lie = 0x7FFFFFFFu;
    std::memcpy(&bytes[107], &lie, 4);
    const std::string path = dir.File("lie.laz");
    std::ofstream(path, std::ios::binary) << bytes;
    foreign::Model model;
    std::string why;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(foreign::Read(path, model, nullptr, &why), foreign::Result::Failed);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_NE(why.find("far more than"), std::string::npos) << why;
}

TEST(Laz, ChunksWithoutTheirTableAreWalked)
{
    // A writer that could not seek back leaves the pointer at itself: the
    // fixed-size chunks are found by decoding them one after another.
    TempDir dir;
    std::string bytes = Bytes(kData + "point-color-time.las.laz");
    las::Header h;
    ASSERT_EQ(las::ParseHeader(reinterpret_cast<const unsigned char*>(bytes.data()), 375, bytes.size(), h), "");
    const uint64_t self = h.pointOffset;
    std::memcpy(&bytes[h.pointOffset], &self, 8);
    const std::string path = dir.File("untabled.laz");
    std::ofstream(path, std::ios::binary) << bytes;
    las::Header a, b;
    std::string why;
    const std::string decoded = DecodeRecords(path, a, why);
    ASSERT_EQ(why, "");
    EXPECT_EQ(decoded, LasRecords(kData + "point-color-time.las", b));

    // Layered chunks of variable size list their points and layers: a COPC
    // file without its table's place still opens whole.
    bytes = Bytes(kData + "1.2-with-color.copc.laz");
    ASSERT_EQ(las::ParseHeader(reinterpret_cast<const unsigned char*>(bytes.data()), 375, bytes.size(), h), "");
    const uint64_t itself = h.pointOffset;
    std::memcpy(&bytes[h.pointOffset], &itself, 8);
    const std::string copc = dir.File("untabled.copc.laz");
    std::ofstream(copc, std::ios::binary) << bytes;
    const std::string layered = DecodeRecords(copc, a, why);
    ASSERT_EQ(why, "");
    EXPECT_EQ(layered, LasRecords(kData + "1.2-with-color.copc.decoded.las", b));
}

TEST(Laz, AbortStopsTheDecoding)
{
    CSilentProgress progress;
    progress.Abort();
    foreign::Model model;
    std::string why;
    EXPECT_EQ(foreign::Read(kData + "gen-f2-v2-variable-chunks.laz", model, &progress, &why), foreign::Result::Aborted);
}

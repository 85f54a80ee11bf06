// E57 and PTX scan files: the files of other writers against an independent
// reader's points, scans with poses made by our bench writer against poses
// applied by hand, the document's scan positions, the import and damaged
// files.
#include "CliRun.h"
#include "E57Writer.h"
#include "Fixtures.h"

#include "core/formats/E57Reader.h"
#include "core/formats/ForeignModel.h"
#include "core/common/ProgressSink.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <vtkDataArray.h>
#include <vtkIntArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

const std::string kData = std::string(QUARLON_SHARED_DATA) + "/e57/";

struct Loaded {
    foreign::Result result = foreign::Result::Failed;
    std::string why;
    foreign::Model model;

    size_t Count() const { return model.data ? static_cast<size_t>(model.data->GetNumberOfPoints()) : 0; }
    // Point `i` in the file's coordinates (the offset added back).
    void Point(size_t i, double p[3]) const
    {
        model.data->GetPoint(static_cast<vtkIdType>(i), p);
        for (int k = 0; k < 3; ++k)
            p[k] += model.offset[k];
    }
    vtkDataArray* Array(const char* name) const { return model.data->GetPointData()->GetArray(name); }
};

Loaded ReadScan(const std::string& path, size_t index = 0)
{
    Loaded l;
    l.result = foreign::ReadScan(path, index, l.model, nullptr, &l.why);
    return l;
}

// What the independent reader (web-e57) gives for each file: the count, the
// first and last point, the sums of x, y and z and an order-sensitive sum
// of (i + 1) * (x + 2y + 3z), and for coloured files that of the colours.
struct Reference {
    const char* file;
    size_t count;
    double first[3], last[3], sums[3];
    double weighted;
    double colourWeighted; // 0: no colours
};

const Reference kReferences[] = {
    {"bunnyDouble.e57", 30571, {-0.07063, 0.04015, 0.001226}, {-0.037829, 0.12794, 0.004474},
     {-841.093298, 3151.198742, 264.243972}, 111544403.3765107691, 0},
    {"bunnyFloat.e57", 30571, {-0.07062999904155731, 0.040150001645088196, 0.0012260000221431255},
     {-0.03782900050282478, 0.12793999910354614, 0.004474000073969364},
     {-841.093297774, 3151.19874185, 264.243972042}, 111544403.3705738634, 0},
    {"bunnyInt21.e57", 30571, {-0.07063, 0.04015, 0.001226}, {-0.037829, 0.12794, 0.004474},
     {-841.093298, 3151.198742, 264.243972}, 111544403.3765107691, 0},
    {"bunnyInt32.e57", 30571, {-0.07063, 0.04015, 0.001226}, {-0.037829, 0.12794, 0.004474},
     {-841.093298, 3151.198742, 264.243972}, 111544403.3765107691, 0},
    {"libe57-ColouredCubeDouble.e57", 7680, {-0.5, -0.4990559220314026, 0.07136291265487671},
     {0.16827905178070068, -0.00394439697265625, 0.5}, {-49.7208476961, 17.8628775477, -30.5928179622},
     14290804.2638843656, 13371302400.0},
    {"tinyCartesianFloatRgb.e57", 2090, {-8.673629760742188, 4.575418472290039, 295.5494689941406},
     {-7.901745796203613, 6.786065101623535, 298.02008056640625}, {-16812.2623305, 12566.1944385, 620734.605621},
     1958564387.7791142464, 1499163526.0},
    {"tiny_spherical.e57", 180, {1.0, 0.0, 0.0}, {0.9996376326769216, -0.019032498863828545, 0.01903594817912861},
     {89.9543566693, 0.000869021544126, 114.645905078}, 34244.5205095321, 0},
    {"original_guids.e57", 1, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, 14, 0},
    {"tiny_pc_with_extension.e57", 1, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, 14, 0},
    {"tiny_pc_and_images.e57", 2, {0, 0, 0}, {1, 1, 1}, {1, 1, 1}, 12, 0},
    {"integer_intensity.e57", 2, {1.1, 2.2, 3.3}, {4.4, 5.5, 6.6}, {5.5, 7.7, 9.9}, 15.4 + 2 * 35.2, 0},
    {"scaled_integer_intensity.e57", 2, {1.1, 2.2, 3.3}, {4.4, 5.5, 6.6}, {5.5, 7.7, 9.9}, 15.4 + 2 * 35.2, 0},
    {"float_intensity_without_min_max.e57", 1, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, 6, 0},
};

TEST(E57, Crc32cAndOffsetsFollowTheFormat)
{
    EXPECT_EQ(e57::Crc32c("123456789", 9), 0xE3069283u);
    EXPECT_EQ(e57::Crc32c("", 0), 0u);
    const std::string sevens(8, '\x7B');
    EXPECT_EQ(e57::Crc32c(sevens.data(), sevens.size()), 0xE1B16371u);
    unsigned char ramp[1024];
    for (int i = 0; i < 1024; ++i)
        ramp[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(e57::Crc32c(ramp, sizeof ramp), 0x2CDF6E8Fu);
    // Continued runs give the checksum of the whole.
    EXPECT_EQ(e57::Crc32c(ramp + 5, 1019, e57::Crc32c(ramp, 5)), 0x2CDF6E8Fu);
    const std::string zeros(1020, '\0');
    EXPECT_EQ(e57::Crc32c(zeros.data(), zeros.size()), 0xB641CDE2u);

    EXPECT_EQ(e57::LogicalOffset(740736), 737844u);
    EXPECT_EQ(e57::PhysicalOffset(737844), 740736u);
    EXPECT_EQ(e57::LogicalOffset(8980), 8948u);
    EXPECT_EQ(e57::LogicalOffset(1019), 1019u);
    EXPECT_EQ(e57::PhysicalOffset(uint64_t(5) << 32), (uint64_t(5) << 32) / 1020 * 1024 + (uint64_t(5) << 32) % 1020);
}

TEST(E57, FilesOfOtherWritersGiveTheIndependentReadersPoints)
{
    for (const Reference& ref : kReferences) {
        SCOPED_TRACE(ref.file);
        const Loaded l = ReadScan(kData + ref.file);
        ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
        ASSERT_EQ(l.Count(), ref.count);
        double p[3], sums[3] = {0, 0, 0}, weighted = 0.0, colourWeighted = 0.0;
        vtkDataArray* rgb = l.Array("RGB");
        for (size_t i = 0; i < l.Count(); ++i) {
            l.Point(i, p);
            for (int k = 0; k < 3; ++k)
                sums[k] += p[k];
            weighted += double(i + 1) * (p[0] + 2 * p[1] + 3 * p[2]);
            if (i == 0) {
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(p[k], ref.first[k], 1e-9);
            }
            if (i + 1 == l.Count()) {
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(p[k], ref.last[k], 1e-9);
            }
            if (rgb)
                colourWeighted += double(i + 1) * (rgb->GetComponent(static_cast<vtkIdType>(i), 0) +
                                                   2 * rgb->GetComponent(static_cast<vtkIdType>(i), 1) +
                                                   3 * rgb->GetComponent(static_cast<vtkIdType>(i), 2));
        }
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(sums[k], ref.sums[k], 1e-6 * static_cast<double>(ref.count) + 1e-9);
        EXPECT_NEAR(weighted, ref.weighted, 1e-6 * static_cast<double>(ref.count) * static_cast<double>(ref.count));
        EXPECT_EQ(rgb != nullptr, ref.colourWeighted != 0.0);
        if (rgb) {
            EXPECT_EQ(colourWeighted, ref.colourWeighted);
        }
    }
}

TEST(E57, IntensityAndInvalidStatesFollowTheLimits)
{
    // Integer and scaled-integer intensities through their limits: 0 and 1.
    for (const char* file : {"integer_intensity.e57", "scaled_integer_intensity.e57"}) {
        SCOPED_TRACE(file);
        const Loaded l = ReadScan(kData + file);
        ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
        vtkDataArray* intensity = l.Array("Intensity");
        ASSERT_NE(intensity, nullptr);
        EXPECT_EQ(intensity->GetTuple1(0), 0.0);
        EXPECT_EQ(intensity->GetTuple1(1), 1.0);
    }
    // A float state (a writer's habit the independent reader refuses): one
    // valid point of three; the direction-only and invalid ones are left out.
    Loaded l = ReadScan(kData + "cartesian_invalid_state_single.e57");
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    ASSERT_EQ(l.Count(), 1u);
    double p[3];
    l.Point(0, p);
    EXPECT_EQ(p[0], -1.0);
    EXPECT_EQ(p[1], -2.0);
    EXPECT_EQ(p[2], -3.0);
    // Fields out of step across packets, a zero-bit intensity, an index
    // packet: 2651 points at the origin, black, with their grid indices.
    l = ReadScan(kData + "read_error.e57");
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    ASSERT_EQ(l.Count(), 2651u);
    ASSERT_NE(l.Array("Row"), nullptr);
    ASSERT_NE(l.Array("Column"), nullptr);
    ASSERT_NE(l.Array("RGB"), nullptr);
    double range[2];
    l.Array("RGB")->GetRange(range, -1);
    EXPECT_EQ(range[1], 0.0);
    l.Array("Row")->GetRange(range);
    EXPECT_EQ(range[1], 0.0);
    // An unprefixed extension field is skipped: the point is read.
    l = ReadScan(kData + "no_ext_namespace.e57");
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    l.Point(0, p);
    EXPECT_EQ(p[2], 3.0);
}

TEST(E57, EmptyDamagedAndImageOnlyFilesFailWithAReason)
{
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"empty.e57", "holds no scans"},
        {"libe57-empty.e57", "holds no scans"},
        {"libe57-PinholeImageWithDistortionParameters.e57", "holds no scans"},
        {"empty_pc.e57", "holds no points"},
        {"libe57-ZeroPoints.e57", "holds no points"},
        {"libe57-ZeroPointsInvalid.e57", "holds no points"},
        {"libe57-InvalidCVHeader.e57", "holds no points"},
        {"libe57-bad-crc.e57", "checksum of page 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        foreign::Model model;
        std::string why;
        EXPECT_EQ(foreign::Read(kData + c.file, model, nullptr, &why), foreign::Result::Failed);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    // The survey still describes what is there.
    std::vector<foreign::ScanEntry> scans;
    size_t images = 0;
    std::string why;
    ASSERT_EQ(foreign::ListScans(kData + "tiny_pc_and_images.e57", scans, &why, &images), foreign::Result::Ok) << why;
    EXPECT_EQ(images, 4u);
    ASSERT_EQ(scans.size(), 1u);
    EXPECT_EQ(scans[0].guid, "{981692D2-FE8E-4D17-3B15-D433E846C7DA}");
    ASSERT_EQ(foreign::ListScans(kData + "bunnyDouble.e57", scans, &why), foreign::Result::Ok);
    EXPECT_EQ(scans[0].name, "bunny");
    EXPECT_EQ(scans[0].guid, "{9CA24C38-C93E-40E8-A366-F49977C7E3EB}");
    EXPECT_EQ(scans[0].points, 30571u);
}

// Two scans of a site far from the origin: the second turned 90 degrees
// about Z and moved, in scaled-integer millimetres with intensity, colour,
// grid indices and invalid points; a third spherical.
std::vector<e57write::ScanData> Site(size_t n)
{
    std::vector<e57write::ScanData> scans(3);
    for (size_t s = 0; s < scans.size(); ++s) {
        e57write::ScanData& d = scans[s];
        d.name = "Station " + std::to_string(s + 1);
        d.guid = "{guid-" + std::to_string(s + 1) + "}";
        d.scale = s < 2 ? 0.001 : 0.0;
        d.spherical = s == 2;
        for (size_t i = 0; i < n; ++i) {
            if (d.spherical) {
                d.coordinates.push_back(5.0 + 0.01 * double(i % 100));
                d.coordinates.push_back(-3.0 + 6.0 * double(i) / double(n));
                d.coordinates.push_back(-1.0 + 2.0 * double(i % 37) / 37.0);
            } else {
                d.coordinates.push_back(0.001 * double((i * 7919) % 20000) - 10.0);
                d.coordinates.push_back(0.001 * double((i * 104729) % 30000) - 15.0);
                d.coordinates.push_back(0.001 * double(i % 5000));
            }
            d.invalidState.push_back(i % 10 == 3 ? 1 : i % 10 == 7 ? 2 : 0);
            d.intensity.push_back(static_cast<uint16_t>(i % 2048));
            for (int c = 0; c < 3; ++c)
                d.rgb.push_back(static_cast<uint8_t>((i * (c + 3)) % 256));
            d.row.push_back(static_cast<int32_t>(i / 100));
            d.column.push_back(static_cast<int32_t>(i % 100));
        }
    }
    scans[0].translation[0] = 512000.0;
    scans[0].translation[1] = 5400000.0;
    scans[0].translation[2] = 300.0;
    const double h = std::sqrt(0.5);
    scans[1].rotation[0] = h;
    scans[1].rotation[3] = h;
    scans[1].translation[0] = 512030.5;
    scans[1].translation[1] = 5400010.25;
    scans[1].translation[2] = 301.0;
    scans[2].translation[0] = 512010.0;
    scans[2].translation[1] = 5400020.0;
    scans[2].translation[2] = 302.0;
    return scans;
}

TEST(E57, ScansStandWhereTheirPosesPutThem)
{
    TempDir dir;
    const std::string path = dir.File("site.e57");
    const size_t n = 70000; // several packets a scan
    const std::vector<e57write::ScanData> site = Site(n);
    ASSERT_EQ(e57write::Write(path, site), "");

    std::vector<foreign::ScanEntry> scans;
    std::string why;
    ASSERT_EQ(foreign::ListScans(path, scans, &why), foreign::Result::Ok) << why;
    ASSERT_EQ(scans.size(), 3u);
    EXPECT_EQ(scans[1].name, "Station 2");
    EXPECT_EQ(scans[1].guid, "{guid-2}");

    for (size_t s = 0; s < site.size(); ++s) {
        SCOPED_TRACE(s);
        const Loaded l = ReadScan(path, s);
        ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
        const e57write::ScanData& d = site[s];
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i) {
            if (d.invalidState[i] != 0)
                continue;
            ASSERT_LT(kept, l.Count());
            // The pose by hand: rotation first, then translation.
            double local[3] = {d.coordinates[3 * i], d.coordinates[3 * i + 1], d.coordinates[3 * i + 2]};
            if (d.spherical) {
                const double r = local[0], a = local[1], e = local[2];
                local[0] = r * std::cos(e) * std::cos(a);
                local[1] = r * std::cos(e) * std::sin(a);
                local[2] = r * std::sin(e);
            }
            double expected[3] = {local[0], local[1], local[2]};
            if (s == 1) { // +90 degrees about Z: (x, y) -> (-y, x)
                expected[0] = -local[1];
                expected[1] = local[0];
            }
            double p[3];
            l.Point(kept, p);
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(p[k], expected[k] + d.translation[k], 1e-6) << "point " << i;
            ASSERT_NEAR(l.Array("Intensity")->GetTuple1(static_cast<vtkIdType>(kept)), d.intensity[i] / 2047.0, 1e-6);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(l.Array("RGB")->GetComponent(static_cast<vtkIdType>(kept), c), d.rgb[3 * i + c]);
            ASSERT_EQ(l.Array("Row")->GetTuple1(static_cast<vtkIdType>(kept)), d.row[i]);
            ASSERT_EQ(l.Array("Column")->GetTuple1(static_cast<vtkIdType>(kept)), d.column[i]);
            ++kept;
        }
        EXPECT_EQ(kept, l.Count());
        // Offsets are whole units near the scan's centre.
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(l.model.offset[k], std::round(l.model.offset[k]));
    }
}

TEST(E57, FilesOver4GBOpen)
{
    // Every offset beyond 4 GB: the scans and the XML lie past a hole of
    // 4.5 GB (a sparse file), so 32-bit arithmetic anywhere would miss them.
    TempDir dir;
    const std::string path = dir.File("far.e57");
    const std::vector<e57write::ScanData> site = Site(5000);
    ASSERT_EQ(e57write::Write(path, site, (uint64_t(9) << 29) / 1024), "");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ASSERT_GT(static_cast<uint64_t>(st.st_size), uint64_t(1) << 32);
    for (size_t s = 0; s < site.size(); ++s) {
        const Loaded far = ReadScan(path, s);
        ASSERT_EQ(far.result, foreign::Result::Ok) << far.why;
        EXPECT_EQ(far.Count(), 4000u);
        double p[3];
        far.Point(0, p);
        EXPECT_NEAR(p[2], site[s].spherical ? p[2] : site[s].coordinates[2] + site[s].translation[2], 1e-6);
    }
}

TEST(E57, EveryScanIsAModelOfTheDocumentUnderOneOffset)
{
    TempDir dir;
    const std::string path = dir.File("Site.E57");
    ASSERT_EQ(e57write::Write(path, Site(2000)), "");
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    doc.SetSettingsReadOnly(true);
    ASSERT_TRUE(doc.OnOpenDocument(path));
    ASSERT_EQ(doc.GetModelCount(), 3);
    CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
    std::vector<CScanPos*> models;
    while (pos)
        models.push_back(doc.GetNextModel(pos));
    EXPECT_EQ(models[0]->GetName(), "Station 1");
    EXPECT_EQ(models[2]->GetName(), "Station 3");
    ASSERT_NE(models[1]->GetScan(), nullptr);
    EXPECT_EQ(models[1]->GetScan()->guid, "{guid-2}");
    EXPECT_EQ(models[1]->GetPath(), CScanPos::ScanIdentity(path, 1));
    // The document's offset comes from the first scan; the others stand
    // where they are relative to it.
    double docOffset[3], second[3], p[3];
    doc.GetOffset(docOffset);
    models[1]->GetOffset(second);
    const Loaded direct = ReadScan(path, 1);
    ASSERT_EQ(direct.result, foreign::Result::Ok);
    models[1]->GetPolyData()->GetPoint(5, p);
    double q[3];
    direct.Point(5, q);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(p[k] + second[k] + docOffset[k], q[k], 1e-9);
    // Each scan's settings live beside the file under its own name.
    EXPECT_EQ(models[1]->GetSettingsFilePath(), dir.File("Site_2.ini"));

    // One scan by its identity; a scan already there is refused.
    EXPECT_EQ(doc.AddModel(path + "#2"), nullptr);
    CRendererView otherView;
    CQuarlonDoc other;
    other.SetView(&otherView);
    other.SetSettingsReadOnly(true);
    CScanPos* only = other.AddModel(path + "#3");
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(other.GetModelCount(), 1);
    EXPECT_EQ(only->GetName(), "Station 3");
    EXPECT_EQ(other.AddModel(path + "#9"), nullptr);
}

TEST(E57, ImportWritesAModelPerScanAndAProject)
{
    TempDir dir;
    const std::string path = dir.File("site.e57");
    ASSERT_EQ(e57write::Write(path, Site(1000)), "");
    CliRun run = RunCli(dir, "import " + Q(path));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"site_1.vtp", "site_1.vtw", "site_2.vtp", "site_3.vtp", "site_3.vtw", "site.mvtp"})
        EXPECT_TRUE(std::ifstream(dir.File(name)).good()) << name;
    EXPECT_EQ(ReadText(dir.File("site.mvtp")), "3\nsite_1.vtp\nsite_2.vtp\nsite_3.vtp\n");
    // The project brings the scans back where the E57 file has them.
    run = RunCli(dir, "info " + Q(dir.File("site.mvtp")));
    ASSERT_EQ(run.status, 0) << run.err;
    const CliRun direct = RunCli(dir, "info " + Q(path));
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_NE(direct.out.find("\"scan\":\"Station 2\",\"guid\":\"{guid-2}\",\"images\":0"), std::string::npos)
        << direct.out;
    // Images are counted; a file of images alone says so.
    CliRun images = RunCli(dir, "info " + Q(kData + "tiny_pc_and_images.e57"));
    EXPECT_EQ(images.status, 0) << images.err;
    EXPECT_NE(images.out.find("\"images\":4"), std::string::npos) << images.out;
    images = RunCli(dir, "info " + Q(kData + "libe57-PinholeImageWithDistortionParameters.e57"));
    EXPECT_EQ(images.status, 1);
    EXPECT_NE(images.err.find("holds no scans, only 3 images"), std::string::npos) << images.err;
    auto offsets = [](const std::string& json) {
        std::vector<std::string> found;
        for (size_t at = json.find("\"offset\":"); at != std::string::npos; at = json.find("\"offset\":", at + 1))
            found.push_back(json.substr(at, json.find(']', at) - at));
        return found;
    };
    EXPECT_EQ(offsets(run.out), offsets(direct.out));
    EXPECT_EQ(offsets(run.out).size(), 3u);
    // A second import keeps what is there unless told to replace it.
    run = RunCli(dir, "import " + Q(path));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("already exists"), std::string::npos);
}

// Bytes of a written file, changed and written back under another name.
std::string Damaged(const TempDir& dir, const std::string& source, const std::string& name,
                    void (*change)(std::string& bytes))
{
    std::string bytes = ReadText(source);
    change(bytes);
    const std::string out = dir.File(name);
    std::ofstream(out, std::ios::binary) << bytes;
    return out;
}

// Rewrites the checksum of every page after a change to the payload.
void Reseal(std::string& bytes)
{
    for (size_t page = 0; page + 1024 <= bytes.size(); page += 1024) {
        const uint32_t crc = e57::Crc32c(bytes.data() + page, 1020);
        for (int i = 0; i < 4; ++i)
            bytes[page + 1020 + i] = static_cast<char>(crc >> (24 - 8 * i));
    }
}

void ReplaceInXml(std::string& bytes, const std::string& from, const std::string& to)
{
    // The writer's XML fits its last pages; keep the length.
    ASSERT_EQ(from.size(), to.size());
    const size_t at = bytes.rfind(from);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size(), to);
}

TEST(E57, HostileFilesFailFastWithoutLargeAllocations)
{
    TempDir dir;
    const std::string path = dir.File("good.e57");
    std::vector<e57write::ScanData> one = Site(3000);
    one.resize(1);
    ASSERT_EQ(e57write::Write(path, one), "");
    ASSERT_EQ(ReadScan(path).result, foreign::Result::Ok);

    struct Case {
        const char* name;
        void (*change)(std::string&);
        const char* reason;
    };
    const Case cases[] = {
        {"cut.e57", [](std::string& b) { b.resize(b.size() - 100); }, "whole number"},
        {"datacrc.e57", [](std::string& b) { b[2048 + 10] ^= 1; }, "checksum of page 2"},
        {"offset.e57",
         [](std::string& b) {
             ReplaceInXml(b, "fileOffset=\"48\"", "fileOffset=\"-8\"");
             Reseal(b);
         },
         "no valid section offset"},
        {"data.e57",
         [](std::string& b) {
             b[48 + 16 + 7] = '\x10'; // the first packet at 2^60
             Reseal(b);
         },
         "outside itself"},
        {"past.e57",
         [](std::string& b) {
             ReplaceInXml(b, "fileOffset=\"48\"", "fileOffset=\"99\"");
             Reseal(b);
         },
         "damaged"},
        {"streams.e57",
         [](std::string& b) {
             b[48 + 32 + 6] = '\xFF'; // the first stream longer than its packet
             b[48 + 32 + 7] = '\xFF';
             Reseal(b);
         },
         "longer than the packet"},
        {"signature.e57", [](std::string& b) { b[0] = 'X'; Reseal(b); }, "signature"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string damaged = Damaged(dir, path, c.name, c.change);
        const auto start = std::chrono::steady_clock::now();
        const Loaded l = ReadScan(damaged);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0); // a generous bound: the point is no hang
        EXPECT_EQ(l.result, foreign::Result::Failed);
        EXPECT_NE(l.why.find(c.reason), std::string::npos) << l.why;
    }

    // 2^62 points declared: the ones the section holds are read, without
    // allocating for the declared count, and the user is told.
    {
        one[0].declaredRecords = uint64_t(1) << 62;
        const std::string count = dir.File("count.e57");
        ASSERT_EQ(e57write::Write(count, one), "");
        const Loaded l = ReadScan(count);
        ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
        EXPECT_EQ(l.Count(), 2400u); // 3000 less the invalid fifth
        EXPECT_NE(l.model.warning.find("the complete ones are kept"), std::string::npos) << l.model.warning;
    }

    // XML nested 100,000 deep is refused, not recursed into.
    {
        std::string xml = "<e57Root type=\"Structure\"><data3D type=\"Vector\"><vectorChild type=\"Structure\">";
        for (int i = 0; i < 100000; ++i)
            xml += "<a type=\"Structure\">";
        std::vector<unsigned char> logical(48, 0);
        logical.insert(logical.end(), xml.begin(), xml.end());
        const size_t pages = (logical.size() + 1019) / 1020;
        logical.resize(pages * 1020, 0);
        std::memcpy(logical.data(), "ASTM-E57", 8);
        logical[8] = 1;
        auto put = [&](size_t at, uint64_t v) {
            for (int i = 0; i < 8; ++i)
                logical[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        put(16, pages * 1024);
        put(24, 48);
        put(32, xml.size());
        put(40, 1024);
        std::string bytes;
        for (size_t p = 0; p < pages; ++p) {
            bytes.append(reinterpret_cast<const char*>(logical.data() + p * 1020), 1020);
            bytes.append(4, '\0');
        }
        Reseal(bytes);
        const std::string deep = dir.File("deep.e57");
        std::ofstream(deep, std::ios::binary) << bytes;
        const Loaded l = ReadScan(deep);
        EXPECT_EQ(l.result, foreign::Result::Failed);
        EXPECT_NE(l.why.find("nested more than"), std::string::npos) << l.why;
    }
}

TEST(E57, AbortStopsTheRead)
{
    TempDir dir;
    const std::string path = dir.File("big.e57");
    std::vector<e57write::ScanData> one = Site(600000);
    one.resize(1);
    ASSERT_EQ(e57write::Write(path, one), "");
    CSilentProgress progress;
    progress.Abort();
    foreign::Model model;
    std::string why;
    EXPECT_EQ(foreign::ReadScan(path, 0, model, &progress, &why), foreign::Result::Aborted);
    EXPECT_FALSE(model.data);
}

// ------------------------------------------------------------------ PTX

TEST(Ptx, ScansAreTransformedAndMissingReturnsLeftOut)
{
    TempDir dir;
    const std::string path = dir.File("two.ptx");
    std::ofstream out(path);
    // Scan 1: 2 x 2, identity with a translation, intensity and colour.
    out << "2\n2\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
           "1 0 0 0\n0 1 0 0\n0 0 1 0\n1000 2000 30 1\n"
           "1.5 2.5 3.5 0.5 10 20 30\n0 0 0 0.5 0 0 0\n-1 -2 -3 0.25 40 50 60\n4 5 6 1 70 80 90\n";
    // Scan 2: 1 x 3, +90 degrees about Z in the row-vector form, no colour.
    out << "1\n3\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
           "0 1 0 0\n-1 0 0 0\n0 0 1 0\n1010 2010 31 1\n"
           "1 0 0 0.1\n0 2 0 0.2\n0 0 0 0.3\n";
    out.close();

    std::vector<foreign::ScanEntry> scans;
    std::string why;
    ASSERT_EQ(foreign::ListScans(path, scans, &why), foreign::Result::Ok) << why;
    ASSERT_EQ(scans.size(), 2u);
    EXPECT_EQ(scans[1].name, "Scan 2");
    EXPECT_EQ(scans[1].points, 3u);

    Loaded l = ReadScan(path, 0);
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    ASSERT_EQ(l.Count(), 3u);
    double p[3];
    l.Point(2, p);
    EXPECT_DOUBLE_EQ(p[0], 1004.0);
    EXPECT_DOUBLE_EQ(p[1], 2005.0);
    EXPECT_DOUBLE_EQ(p[2], 36.0);
    ASSERT_NE(l.Array("RGB"), nullptr);
    EXPECT_EQ(l.Array("RGB")->GetComponent(1, 2), 60.0);
    EXPECT_FLOAT_EQ(static_cast<float>(l.Array("Intensity")->GetTuple1(1)), 0.25f);

    l = ReadScan(path, 1);
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    ASSERT_EQ(l.Count(), 2u);
    EXPECT_EQ(l.Array("RGB"), nullptr);
    l.Point(0, p); // (1, 0, 0) turned to (0, 1, 0), then moved
    EXPECT_DOUBLE_EQ(p[0], 1010.0);
    EXPECT_DOUBLE_EQ(p[1], 2011.0);
    l.Point(1, p); // (0, 2, 0) turned to (-2, 0, 0)
    EXPECT_DOUBLE_EQ(p[0], 1008.0);
    EXPECT_DOUBLE_EQ(p[1], 2010.0);

    // In the document: two models.
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    doc.SetSettingsReadOnly(true);
    ASSERT_TRUE(doc.OnOpenDocument(path));
    EXPECT_EQ(doc.GetModelCount(), 2);
}

TEST(Ptx, DamagedHeadersAndLinesAreNamed)
{
    TempDir dir;
    const std::string header = "2\n1\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
    struct Case {
        std::string text, reason;
    };
    const Case cases[] = {
        {"2\nx\n", "line 2 should hold the scan's rows"},
        {"2\n1\n0 0 0\n1 0 0\n0 1\n", "line 5 should hold the scanner's axis"},
        {header + "1 2 3 4\n1 2\n", "line 12 is not a point"},
        {header + "1 2 3 4\n1 2 3 4 5 6 7\n", "line 12 is not a point"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = dir.File("bad.ptx");
        std::ofstream(path) << c.text;
        foreign::Model model;
        std::string why;
        EXPECT_EQ(foreign::ReadScan(path, 0, model, nullptr, &why), foreign::Result::Failed);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    // A scan cut short keeps what it has and says so.
    const std::string path = dir.File("cut.ptx");
    std::ofstream(path) << header << "1 2 3 0.5\n";
    const Loaded l = ReadScan(path);
    ASSERT_EQ(l.result, foreign::Result::Ok) << l.why;
    EXPECT_EQ(l.Count(), 1u);
    EXPECT_NE(l.model.warning.find("ends after 1"), std::string::npos) << l.model.warning;
}

} // namespace

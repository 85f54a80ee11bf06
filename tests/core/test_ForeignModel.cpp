// Other programs' scan formats opened as models: LAS of every version and
// point format, PLY, PTS, OBJ and STL, each compared value by value with
// what the test wrote, and the damaged and lying files each must refuse.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/LasReader.h"
#include "core/exchange/MergeExport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

template <class T>
void Put(std::string& b, size_t at, T v)
{
    std::memcpy(&b[at], &v, sizeof v);
}

std::vector<LasPoint> RandomPoints(size_t n, bool wideColours, unsigned seed = 3)
{
    std::mt19937 random(seed);
    std::vector<LasPoint> points(n);
    for (LasPoint& p : points) {
        p.x = static_cast<int32_t>(random() % 2000001) - 1000000;
        p.y = static_cast<int32_t>(random() % 2000001) - 1000000;
        p.z = static_cast<int32_t>(random() % 100000);
        p.intensity = static_cast<uint16_t>(1 + random() % 65535);
        const unsigned mult = wideColours ? 257 : 1;
        p.r = static_cast<uint16_t>((random() % 256) * mult);
        p.g = static_cast<uint16_t>((random() % 256) * mult);
        p.b = static_cast<uint16_t>((random() % 256) * mult);
    }
    return points;
}

foreign::Result ReadFile(const std::string& path, foreign::Model& model, std::string* why = nullptr)
{
    std::string reason;
    const foreign::Result r = foreign::Read(path, model, nullptr, &reason);
    if (why)
        *why = reason;
    return r;
}

std::string Refusal(const std::string& path)
{
    foreign::Model model;
    std::string why;
    if (ReadFile(path, model, &why) != foreign::Result::Failed)
        return "(read)";
    EXPECT_FALSE(model.data) << path;
    return why.empty() ? "(no reason)" : why;
}

// Every point's absolute position, as the model puts it: offset + point.
void ExpectLasPoints(const foreign::Model& m, const LasFile& f, const std::string& label)
{
    ASSERT_TRUE(m.data) << label;
    ASSERT_EQ(m.data->GetNumberOfPoints(), static_cast<vtkIdType>(f.points.size())) << label;
    EXPECT_EQ(m.data->GetNumberOfVerts(), static_cast<vtkIdType>(f.points.size())) << label;
    vtkDataArray* rgb = m.data->GetPointData()->GetArray("RGB");
    vtkDataArray* intensity = m.data->GetPointData()->GetArray("Intensity");
    ASSERT_TRUE(intensity) << label;
    EXPECT_EQ(rgb != nullptr, las::ColourOffset(f.format) >= 0) << label;
    bool wide = false;
    for (const LasPoint& p : f.points)
        wide = wide || p.r > 255 || p.g > 255 || p.b > 255;
    for (size_t i = 0; i < f.points.size(); ++i) {
        const LasPoint& p = f.points[i];
        double q[3];
        m.data->GetPoint(static_cast<vtkIdType>(i), q);
        const int32_t raw[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            const double expected = raw[k] * f.scale[k] + f.offset[k];
            ASSERT_NEAR(m.offset[k] + q[k], expected, f.scale[k] / 100) << label << " point " << i << " axis " << k;
        }
        ASSERT_EQ(intensity->GetComponent(static_cast<vtkIdType>(i), 0), p.intensity) << label << " point " << i;
        if (rgb) {
            const uint16_t c[3] = {p.r, p.g, p.b};
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(rgb->GetComponent(static_cast<vtkIdType>(i), k), wide ? c[k] >> 8 : c[k])
                    << label << " point " << i;
        }
    }
}

} // namespace

TEST(ForeignLas, EveryVersionAndPointFormatReadsPointByPoint)
{
    TempDir dir;
    const int lastFormat[5] = {1, 1, 3, 5, 10};
    int files = 0;
    for (int minor = 0; minor <= 4; ++minor)
        for (int format = 0; format <= lastFormat[minor]; ++format)
            for (unsigned extra : {0u, 5u}) {
                LasFile f;
                f.minor = minor;
                f.format = format;
                f.extraBytes = extra;
                f.points = RandomPoints(300, (format + minor) % 2 == 0, 10 * minor + format);
                const std::string path = dir.File("v1" + std::to_string(minor) + "f" + std::to_string(format) + ".las");
                WriteText(path, LasBytes(f));
                foreign::Model m;
                std::string why;
                ASSERT_EQ(ReadFile(path, m, &why), foreign::Result::Ok) << path << ": " << why;
                ExpectLasPoints(m, f, path);
                ++files;
            }
    EXPECT_EQ(files, 2 * (2 + 2 + 4 + 6 + 11));
}

TEST(ForeignLas, GeoreferencedFilesKeepMillimetresAndTheirOwnOffset)
{
    TempDir dir;
    for (auto [minor, format] : {std::pair<int, int>{2, 2}, {4, 7}}) {
        LasFile f;
        f.minor = minor;
        f.format = format;
        f.points = RandomPoints(5000, true);
        const std::string path = dir.File("site" + std::to_string(format) + ".LAS");
        WriteText(path, LasBytes(f));
        foreign::Model m;
        ASSERT_EQ(ReadFile(path, m), foreign::Result::Ok);
        ExpectLasPoints(m, f, path);
        // The header's offset lies among the points: it is the model's.
        EXPECT_EQ(m.offset[0], 512000.0);
        EXPECT_EQ(m.offset[1], 5400000.0);
        EXPECT_EQ(m.offset[2], 300.0);

        // Opened as a model of a document, as File > Open does.
        CRendererView view;
        CQuarlonDoc doc;
        doc.SetView(&view);
        doc.SetSettingsReadOnly(true);
        ASSERT_TRUE(doc.OnOpenDocument(path)) << (doc.GetLoadFailures().empty() ? "" : doc.GetLoadFailures()[0].second);
        CScanPos* model = doc.FindModel(path);
        ASSERT_NE(model, nullptr);
        double docOffset[3], modelOffset[3], q[3];
        doc.GetOffset(docOffset);
        model->GetOffset(modelOffset);
        EXPECT_EQ(docOffset[1], 5400000.0);
        model->GetPolyData()->GetPoint(4321, q);
        EXPECT_NEAR(docOffset[1] + modelOffset[1] + q[1], f.points[4321].y * 0.001 + 5400000.0, 1e-6);
        EXPECT_EQ(model->GetActiveArrayName(), "RGB");
        EXPECT_EQ(model->GetColorMap(), ColorMapDirect);
        doc.OnCloseDocument();
    }

    // A header offset far from the points (here 0): the box's centre.
    LasFile f;
    f.offset[0] = f.offset[1] = f.offset[2] = 0;
    f.scale[0] = f.scale[1] = f.scale[2] = 0.01;
    f.points = RandomPoints(100, false);
    for (LasPoint& p : f.points)
        p.x += 60000000; // 600 km east
    WriteText(dir.File("far.las"), LasBytes(f));
    foreign::Model m;
    ASSERT_EQ(ReadFile(dir.File("far.las"), m), foreign::Result::Ok);
    ExpectLasPoints(m, f, "far");
    EXPECT_GT(m.offset[0], 590000.0);
    EXPECT_EQ(m.offset[0], std::round(m.offset[0])) << "a whole-unit offset, held exactly by an offset file";
}

TEST(ForeignLas, ColoursAndIntensitiesThatSayNothingAreLeftOut)
{
    TempDir dir;
    LasFile f;
    f.format = 3;
    f.points = RandomPoints(50, false);
    for (LasPoint& p : f.points)
        p.r = p.g = p.b = 0, p.intensity = 0;
    WriteText(dir.File("plain.las"), LasBytes(f));
    foreign::Model m;
    ASSERT_EQ(ReadFile(dir.File("plain.las"), m), foreign::Result::Ok);
    EXPECT_EQ(m.data->GetPointData()->GetNumberOfArrays(), 0) << "all black and all zero: nothing to colour by";
    // 8-bit colours stored in 16-bit fields stay as they are; a single
    // value above 255 makes them all 16-bit.
    f.points = RandomPoints(50, false);
    f.points[7].r = 200;
    WriteText(dir.File("narrow.las"), LasBytes(f));
    ASSERT_EQ(ReadFile(dir.File("narrow.las"), m), foreign::Result::Ok);
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(7, 0), 200);
    f.points[9].g = 256;
    WriteText(dir.File("wide.las"), LasBytes(f));
    ASSERT_EQ(ReadFile(dir.File("wide.las"), m), foreign::Result::Ok);
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(7, 0), 0);
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(9, 1), 1);
}

TEST(ForeignLas, DamagedAndLyingHeadersAreRefusedWithAReason)
{
    TempDir dir;
    LasFile f;
    f.points = RandomPoints(10, true);
    const std::string good = LasBytes(f);
    auto variant = [&](const std::string& name, const std::string& bytes) {
        WriteText(dir.File(name), bytes);
        return Refusal(dir.File(name));
    };
    // A billion points declared in a few hundred bytes: no allocation.
    std::string lie = good;
    Put<uint32_t>(lie, 107, 1000000000u);
    EXPECT_NE(variant("lie.las", lie).find("declares 1000000000 points"), std::string::npos);
    LasFile f14 = f;
    f14.minor = 4;
    f14.format = 6;
    std::string lie14 = LasBytes(f14);
    Put<uint64_t>(lie14, 247, uint64_t(1) << 62);
    EXPECT_NE(variant("lie14.las", lie14).find("declares"), std::string::npos);
    // Cut in the records and in the header.
    EXPECT_NE(variant("cut.las", good.substr(0, good.size() - 3)).find("declares"), std::string::npos);
    EXPECT_NE(variant("head.las", good.substr(0, 100)).find("cut short"), std::string::npos);
    EXPECT_NE(variant("empty.las", "").find("not a LAS file"), std::string::npos);
    EXPECT_NE(variant("text.las", "X Y Z\n1 2 3\n").find("not a LAS file"), std::string::npos);
    std::string format = good;
    format[104] = 11;
    EXPECT_NE(variant("f11.las", format).find("point format 11"), std::string::npos);
    format[104] = static_cast<char>(0x82); // LAZ's compressed format 2, without the LASzip record
    const std::string packed = variant("packed.las", format);
    EXPECT_NE(packed.find("no LASzip record"), std::string::npos) << packed;
    EXPECT_NE(variant("packed.laz", format).find("LAZ"), std::string::npos);
    std::string short_ = good;
    Put<uint16_t>(short_, 105, 19);
    EXPECT_NE(variant("short.las", short_).find("too short"), std::string::npos);
    for (double bad : {std::nan(""), 0.0, double(INFINITY)}) {
        std::string scale = good;
        Put<double>(scale, 139, bad);
        EXPECT_NE(variant("scale.las", scale).find("scale or offset"), std::string::npos) << bad;
    }
    std::string version = good;
    version[24] = 2;
    EXPECT_NE(variant("v2.las", version).find("version 2.2"), std::string::npos);
    std::string start = good;
    Put<uint32_t>(start, 96, 100);
    EXPECT_NE(variant("start.las", start).find("outside the file"), std::string::npos);
    std::string headerSize = good;
    Put<uint16_t>(headerSize, 94, 60000);
    EXPECT_NE(variant("hsize.las", headerSize).find("header size"), std::string::npos);
    LasFile none;
    EXPECT_NE(variant("none.las", LasBytes(none)).find("no points"), std::string::npos);
    // A plain LAS named .laz is read.
    WriteText(dir.File("plain.laz"), good);
    foreign::Model m;
    EXPECT_EQ(ReadFile(dir.File("plain.laz"), m), foreign::Result::Ok);
    EXPECT_EQ(m.data->GetNumberOfPoints(), 10);
}

TEST(ForeignLas, AbortStopsTheReadAndLeavesNoModel)
{
    TempDir dir;
    LasFile f;
    f.points = RandomPoints(400000, true);
    WriteText(dir.File("big.las"), LasBytes(f));
    CSilentProgress abort;
    abort.Abort();
    foreign::Model m;
    EXPECT_EQ(foreign::Read(dir.File("big.las"), m, &abort, nullptr), foreign::Result::Aborted);
    EXPECT_FALSE(m.data);
}

// ---------------------------------------------------------------- PLY

namespace {

struct PlyVertex {
    double x, y, z;
    unsigned char r, g, b;
    float intensity;
};

std::vector<PlyVertex> PlyVertices(size_t n)
{
    std::mt19937 random(5);
    std::vector<PlyVertex> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = {612345.678 + (random() % 100000) / 1000.0, 5123456.789 + (random() % 100000) / 1000.0,
                (random() % 10000) / 1000.0, static_cast<unsigned char>(random()), static_cast<unsigned char>(random()),
                static_cast<unsigned char>(random()), static_cast<float>(random() % 2048)};
    return v;
}

template <class T>
void Append(std::string& out, T v, bool big)
{
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    if (big)
        std::reverse(b, b + sizeof(T));
    out.append(b, sizeof(T));
}

// Double coordinates, colours, an intensity named `intensityName`, an
// unknown property and a list to skip, and triangles over the vertices.
std::string PlyBytes(const std::vector<PlyVertex>& v, const std::string& format, const std::string& intensityName,
                     size_t faces)
{
    std::string h = "ply\nformat " + format + " 1.0\ncomment made by a test\nobj_info nothing\n";
    h += "element vertex " + std::to_string(v.size()) + "\n";
    h += "property double x\nproperty double y\nproperty double z\nproperty short unknown\n";
    h += "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty float " + intensityName + "\n";
    h += "property list uchar float extra\n";
    h += "element face " + std::to_string(faces) + "\nproperty list uchar int vertex_indices\n";
    h += "element edge 1\nproperty int vertex1\nproperty int vertex2\nend_header\n";
    std::string body;
    const bool ascii = format == "ascii", big = format == "binary_big_endian";
    char line[256];
    for (const PlyVertex& p : v) {
        if (ascii) {
            std::snprintf(line, sizeof line, "%.3f %.3f %.3f -7 %d %d %d %g 2 0.5 0.25\n", p.x, p.y, p.z, p.r, p.g, p.b,
                          p.intensity);
            body += line;
        } else {
            Append(body, p.x, big), Append(body, p.y, big), Append(body, p.z, big);
            Append<int16_t>(body, -7, big);
            body += static_cast<char>(p.r), body += static_cast<char>(p.g), body += static_cast<char>(p.b);
            Append(body, p.intensity, big);
            body += static_cast<char>(2);
            Append(body, 0.5f, big), Append(body, 0.25f, big);
        }
    }
    for (size_t i = 0; i < faces; ++i) {
        const int a = static_cast<int>(i), b = static_cast<int>(i + 1), c = static_cast<int>(i + 2);
        if (ascii) {
            std::snprintf(line, sizeof line, "3 %d %d %d\n", a, b, c);
            body += line;
        } else {
            body += static_cast<char>(3);
            Append(body, a, big), Append(body, b, big), Append(body, c, big);
        }
    }
    if (ascii)
        body += "0 1\n";
    else
        Append(body, 0, big), Append(body, 1, big);
    return h + body;
}

} // namespace

TEST(ForeignPly, AsciiAndBothBinaryOrdersReadWithColoursIntensityAndFaces)
{
    TempDir dir;
    const std::vector<PlyVertex> v = PlyVertices(2000);
    for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"})
        for (const char* intensityName : {"intensity", "scalar_intensity"})
            for (size_t faces : {size_t(0), size_t(1500)}) {
                const std::string label = std::string(format) + " " + intensityName + " " + std::to_string(faces);
                WriteText(dir.File("m.ply"), PlyBytes(v, format, intensityName, faces));
                foreign::Model m;
                std::string why;
                ASSERT_EQ(ReadFile(dir.File("m.ply"), m, &why), foreign::Result::Ok) << label << ": " << why;
                ASSERT_EQ(m.data->GetNumberOfPoints(), 2000) << label;
                vtkDataArray* rgb = m.data->GetPointData()->GetArray("RGB");
                vtkDataArray* in = m.data->GetPointData()->GetArray("Intensity");
                ASSERT_TRUE(rgb && in) << label;
                for (vtkIdType i = 0; i < 2000; ++i) {
                    double q[3];
                    m.data->GetPoint(i, q);
                    const PlyVertex& p = v[static_cast<size_t>(i)];
                    // Doubles all the way: the millimetres of the site stay.
                    ASSERT_NEAR(m.offset[0] + q[0], std::round(p.x * 1000) / 1000, 1e-6) << label << " " << i;
                    ASSERT_NEAR(m.offset[1] + q[1], std::round(p.y * 1000) / 1000, 1e-6) << label << " " << i;
                    ASSERT_NEAR(m.offset[2] + q[2], std::round(p.z * 1000) / 1000, 1e-6) << label << " " << i;
                    ASSERT_EQ(rgb->GetComponent(i, 0), p.r) << label;
                    ASSERT_EQ(rgb->GetComponent(i, 2), p.b) << label;
                    ASSERT_EQ(in->GetComponent(i, 0), p.intensity) << label;
                }
                EXPECT_EQ(m.data->GetNumberOfPolys(), static_cast<vtkIdType>(faces)) << label;
                EXPECT_EQ(m.data->GetNumberOfVerts(), faces ? 0 : 2000) << label;
                if (faces) {
                    vtkIdType count;
                    const vtkIdType* ids;
                    m.data->GetPolys()->GetCellAtId(1499, count, ids);
                    ASSERT_EQ(count, 3);
                    EXPECT_EQ(ids[0], 1499);
                    EXPECT_EQ(ids[2], 1501);
                }
            }
}

namespace {

void ExpectPlyRoundTrip(const CQuarlonDoc& doc, CScanPos* original, const double docOffset[3], const TempDir& dir)
{
    for (bool binary : {false, true}) {
        const std::string out = dir.File(binary ? "b.ply" : "a.ply");
        ASSERT_EQ(exchange::WriteMergedPly(doc, out, binary, nullptr, nullptr), exchange::ExportResult::Ok);
        foreign::Model m;
        std::string why;
        ASSERT_EQ(ReadFile(out, m, &why), foreign::Result::Ok) << why;
        EXPECT_EQ(m.offset[0], docOffset[0]) << "the export's \"comment offset\"";
        EXPECT_EQ(m.offset[1], docOffset[1]);
        vtkPolyData* a = original->GetPolyData();
        ASSERT_EQ(m.data->GetNumberOfPoints(), a->GetNumberOfPoints());
        EXPECT_EQ(m.data->GetNumberOfPolys(), a->GetNumberOfPolys());
        for (vtkIdType i = 0; i < a->GetNumberOfPoints(); i += 7) {
            double p[3], q[3];
            a->GetPoint(i, p);
            m.data->GetPoint(i, q);
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(q[k], p[k], 1e-4) << i; // the export writes floats
            if (vtkDataArray* rgb = a->GetPointData()->GetArray("RGB"))
                ASSERT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(i, 1), rgb->GetComponent(i, 1));
        }
        EXPECT_TRUE(m.data->GetPointData()->GetArray("RGB")) << "every model's colours, solid ones too";
    }
}

} // namespace

TEST(ForeignPly, TheViewersOwnPlyExportOpensAgainInPlace)
{
    TempDir dir;
    ModelShape shape;
    shape.arrays = {RgbArray()};
    WriteModel(dir.File("scan.vtp"), shape);
    WriteText(dir.File("scan.vtw"), "[PolyData Offset]\nX=700000.25\nY=5300000.5\nZ=12\n");
    // The bundled sample model, and a generated one at a fractional offset.
    for (const std::string& model : {std::string(QUARLON_SAMPLE_DIR) + "/sampleModel.vtp", dir.File("scan.vtp")}) {
        CRendererView view;
        CQuarlonDoc doc;
        doc.SetView(&view);
        doc.SetSettingsReadOnly(true);
        ASSERT_TRUE(doc.OnOpenDocument(model));
        CScanPos* original = doc.FindModel(model);
        ASSERT_NE(original, nullptr);
        double docOffset[3];
        doc.GetOffset(docOffset);
        ExpectPlyRoundTrip(doc, original, docOffset, dir);
    }
}

TEST(ForeignPly, DamagedAndLyingFilesAreRefusedWithAReason)
{
    TempDir dir;
    auto variant = [&](const std::string& text) {
        WriteText(dir.File("bad.ply"), text);
        return Refusal(dir.File("bad.ply"));
    };
    const std::string head = "ply\nformat binary_little_endian 1.0\nelement vertex ";
    const std::string props = "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    EXPECT_NE(variant(head + "1000000000" + props + std::string(24, '\0')).find("more data than the file holds"),
              std::string::npos);
    EXPECT_NE(variant(head + "99999999999999999999999" + props).find("no count"), std::string::npos);
    EXPECT_NE(variant(head + "3" + props + std::string(30, '\0')).find("more data"), std::string::npos);
    // The least the lists take fits, their items do not.
    const std::string listed = head + "1\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
                                      "property list uchar int vertex_indices\nend_header\n";
    EXPECT_NE(variant(listed + std::string(12, '\0') + "\x03" + std::string(8, '\0')).find("end before"),
              std::string::npos);
    EXPECT_NE(variant("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n").find("end_header"),
              std::string::npos);
    EXPECT_NE(variant("ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\nend_header\n1\n").find("unknown type"),
              std::string::npos);
    EXPECT_NE(variant("ply\nformat ebcdic 1.0\nend_header\n").find("unknown PLY format"), std::string::npos);
    EXPECT_NE(variant("PK\x03\x04 not a ply").find("not a PLY"), std::string::npos);
    EXPECT_NE(variant("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nend_header\n1 2\n3 4\n")
                  .find("no x, y and z"),
              std::string::npos);
    const std::string ascii3 = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty "
                               "float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                               "0 0 0\n1 0 0\n0 1 0\n";
    EXPECT_NE(variant(ascii3 + "3 0 1 3\n").find("refers to vertex 3"), std::string::npos);
    EXPECT_NE(variant(ascii3 + "3 0 1 -1\n").find("refers to vertex"), std::string::npos);
    EXPECT_NE(variant(ascii3 + "4000000000 0 1 2\n").find("count"), std::string::npos);
    EXPECT_NE(variant(ascii3 + "3 0 1\n").find("end before"), std::string::npos);
    EXPECT_NE(variant(ascii3 + "3 0 1 x\n").find("end before"), std::string::npos);
    EXPECT_NE(variant("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nproperty float "
                      "z\nend_header\nnan 0 0\n")
                  .find("not finite"),
              std::string::npos);
    EXPECT_EQ(variant(ascii3 + "3 0 1 2\n"), "(read)") << "the well-formed file of the same family reads";
}

// ---------------------------------------------------------------- PTS

TEST(ForeignPts, LayoutsSectionsAndIntensityRange)
{
    TempDir dir;
    WriteText(dir.File("a.pts"), "3\n10.5 20.25 3 -2048 255 0 7\n11.5 21.25 4 2047 1 2 3\r\n12 22 5 0 9 9 9");
    foreign::Model m;
    std::string why;
    ASSERT_EQ(ReadFile(dir.File("a.pts"), m, &why), foreign::Result::Ok) << why;
    ASSERT_EQ(m.data->GetNumberOfPoints(), 3);
    EXPECT_EQ(m.data->GetNumberOfVerts(), 3);
    vtkDataArray* in = m.data->GetPointData()->GetArray("Intensity");
    vtkDataArray* rgb = m.data->GetPointData()->GetArray("RGB");
    ASSERT_TRUE(in && rgb);
    EXPECT_EQ(in->GetComponent(0, 0), -2048);
    EXPECT_EQ(in->GetComponent(1, 0), 2047);
    EXPECT_EQ(rgb->GetComponent(0, 0), 255);
    EXPECT_EQ(rgb->GetComponent(0, 2), 7);
    EXPECT_EQ(rgb->GetComponent(2, 1), 9);
    double q[3];
    m.data->GetPoint(1, q);
    EXPECT_DOUBLE_EQ(m.offset[0] + q[0], 11.5);
    EXPECT_DOUBLE_EQ(m.offset[1] + q[1], 21.25);

    // Two scans one after the other, with "X Y Z I" lines and exponents.
    WriteText(dir.File("b.pts"), "2\n1 2 3 5\n1e1 2 3 6\n\n1\n4 5 6 7\n");
    ASSERT_EQ(ReadFile(dir.File("b.pts"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetNumberOfPoints(), 3);
    EXPECT_FALSE(m.data->GetPointData()->GetArray("RGB"));
    m.data->GetPoint(1, q);
    EXPECT_DOUBLE_EQ(m.offset[0] + q[0], 10.0);
    // "X Y Z" and "X Y Z R G B" without a count line.
    WriteText(dir.File("c.pts"), "1 2 3\n4 5 6\n");
    ASSERT_EQ(ReadFile(dir.File("c.pts"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetPointData()->GetNumberOfArrays(), 0);
    WriteText(dir.File("d.pts"), "1\n1 2 3 300 -4 128.7\n");
    ASSERT_EQ(ReadFile(dir.File("d.pts"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(0, 0), 255) << "colours are kept in 0..255";
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(0, 1), 0);
    EXPECT_EQ(m.data->GetPointData()->GetArray("RGB")->GetComponent(0, 2), 128);
}

TEST(ForeignPts, MalformedFilesAreRefusedWithTheLine)
{
    TempDir dir;
    auto variant = [&](const std::string& text) {
        WriteText(dir.File("bad.pts"), text);
        return Refusal(dir.File("bad.pts"));
    };
    EXPECT_NE(variant("2\n1 2 3 4 5 6 7\n1 2 3 4 5 6\n").find("line 3 has 6 numbers"), std::string::npos);
    EXPECT_NE(variant("2\n1 2 3 4 5 6 7\n1 2 three\n").find("line 3 is not"), std::string::npos);
    EXPECT_NE(variant("1\n1 2\n").find("3, 4, 6 or 7"), std::string::npos);
    EXPECT_NE(variant("").find("no points"), std::string::npos);
    EXPECT_NE(variant("4000000000000\n").find("no points"), std::string::npos) << "a count is only a hint";
    EXPECT_NE(variant("1\n1 2 inf\n").find("not finite"), std::string::npos);
    std::string endless = "1\n";
    while (endless.size() < (size_t(9) << 20))
        endless += "1 2 3 ";
    EXPECT_NE(variant(endless).find("line 2 is too long"), std::string::npos);
    EXPECT_NE(variant("1\n" + std::string(400, '1') + " 2 3\n").find("not finite"), std::string::npos)
        << "a number beyond any double";
    WriteText(dir.File("long.pts"), "1\n" + std::string(300, '1') + " 2 3\n");
    foreign::Model m;
    ASSERT_EQ(ReadFile(dir.File("long.pts"), m), foreign::Result::Ok);
    EXPECT_EQ(m.offset[0], std::round(1.1111111111111111e299)) << "300 digits are a double";
}

// ---------------------------------------------------------------- OBJ, STL

TEST(ForeignMesh, ObjAndStlMeshesThroughVtksReaders)
{
    TempDir dir;
    WriteText(dir.File("t.obj"), "# two triangles\nv 100000 200000 10\nv 100001 200000 10\nv 100001 200001 10\n"
                                 "v 100000 200001 11\nf 1 2 3\nf 1 3 4\n");
    foreign::Model m;
    std::string why;
    ASSERT_EQ(ReadFile(dir.File("t.obj"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetNumberOfPoints(), 4);
    EXPECT_EQ(m.data->GetNumberOfPolys(), 2);
    double q[3];
    m.data->GetPoint(3, q);
    EXPECT_DOUBLE_EQ(m.offset[0] + q[0], 100000);
    EXPECT_DOUBLE_EQ(m.offset[2] + q[2], 11);

    WriteText(dir.File("t.stl"), "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 2 0 0\nvertex 0 2 0\n"
                                 "endloop\nendfacet\nendsolid t\n");
    ASSERT_EQ(ReadFile(dir.File("t.stl"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetNumberOfPoints(), 3);
    EXPECT_EQ(m.data->GetNumberOfPolys(), 1);

    // Binary STL: one triangle, then one that lies about its count.
    std::string stl(80, ' ');
    Append<uint32_t>(stl, 1, false);
    for (float f : {0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 3.f, 0.f, 0.f, 0.f, 3.f, 0.f})
        Append(stl, f, false);
    stl += std::string(2, '\0');
    WriteText(dir.File("b.stl"), stl);
    ASSERT_EQ(ReadFile(dir.File("b.stl"), m, &why), foreign::Result::Ok) << why;
    EXPECT_EQ(m.data->GetNumberOfPolys(), 1);
    std::string lie = stl;
    const uint32_t many = 400000000;
    std::memcpy(&lie[80], &many, 4);
    lie[0] = static_cast<char>(0xC8); // a byte beyond ASCII: read as binary
    WriteText(dir.File("lie.stl"), lie);
    EXPECT_NE(Refusal(dir.File("lie.stl")).find("declares 400000000 triangles"), std::string::npos);
    WriteText(dir.File("empty.obj"), "# nothing\n");
    EXPECT_NE(Refusal(dir.File("empty.obj")), "(read)");
}

// ---------------------------------------------------------------- command line

TEST(ForeignCli, InfoListsAndImportConvertsEveryFormat)
{
    TempDir dir;
    LasFile f;
    f.minor = 4;
    f.format = 7;
    f.points = RandomPoints(1000, true);
    WriteText(dir.File("site.las"), LasBytes(f));
    WriteText(dir.File("c.pts"), "2\n1 2 3 5 1 2 3\n3 4 5 6 7 8 9\n");
    CliRun r = RunCli(dir, "info " + Q(dir.File("site.las")) + " " + Q(dir.File("c.pts")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"points\":1000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"offset\":[512000,5400000,300]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"name\":\"RGB\",\"components\":3,\"type\":\"unsigned char\"},{\"name\":\"Intensity\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"offset\":[2,3,4]"), std::string::npos) << r.out;

    r = RunCli(dir, "import " + Q(dir.File("site.las")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.File("site.vtp") + "\n");
    EXPECT_EQ(ReadText(dir.File("site.vtw")),
              "[PolyData Offset]\r\nX=512000.000000\r\nY=5400000.000000\r\nZ=300.000000\r\n");
    // The converted model is the same model.
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    doc.SetSettingsReadOnly(true);
    ASSERT_TRUE(doc.OnOpenDocument(dir.File("site.vtp")));
    CScanPos* model = doc.FindModel(dir.File("site.vtp"));
    ASSERT_NE(model, nullptr);
    foreign::Model direct;
    ASSERT_EQ(ReadFile(dir.File("site.las"), direct), foreign::Result::Ok);
    ASSERT_EQ(model->GetPolyData()->GetNumberOfPoints(), 1000);
    for (vtkIdType i = 0; i < 1000; i += 37) {
        double a[3], b[3];
        model->GetPolyData()->GetPoint(i, a);
        direct.data->GetPoint(i, b);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(a[k], b[k]) << i;
        EXPECT_EQ(model->GetPolyData()->GetPointData()->GetArray("Intensity")->GetComponent(i, 0), f.points[i].intensity);
    }
    doc.OnCloseDocument();

    // A damaged file: the reason, exit 1, nothing written.
    WriteText(dir.File("bad.las"), "LASF");
    r = RunCli(dir, "import " + Q(dir.File("bad.las")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir.File("bad.vtp")));
    EXPECT_FALSE(FileExists(dir.File("bad_Z.vtp")));
    r = RunCli(dir, "info " + Q(dir.File("bad.las")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
}

TEST(ForeignDocument, AProjectHoldsScanFilesBesideModelsUnderOneOffset)
{
    TempDir dir;
    LasFile f;
    f.points = RandomPoints(200, true);
    WriteText(dir.File("scan.las"), LasBytes(f));
    WriteText(dir.File("extra.pts"), "1\n512010 5400020 301 7 1 2 3\n");
    WriteModel(dir.File("mesh.vtp"), {4, 4, true, {}});
    WriteText(dir.File("mesh.vtw"), "[PolyData Offset]\nX=512000\nY=5400000\nZ=300\n");
    WriteText(dir.File("site.mvtp"), "3\r\nscan.las\r\nextra.pts\r\nmesh.vtp\r\n");
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    doc.SetSettingsReadOnly(true);
    ASSERT_TRUE(doc.OnOpenDocument(dir.File("site.mvtp")));
    EXPECT_TRUE(doc.GetLoadFailures().empty());
    ASSERT_EQ(doc.GetModelCount(), 3);
    // The first model fixed the document's frame; the PTS point sits in it.
    double docOffset[3], ptsOffset[3], q[3];
    doc.GetOffset(docOffset);
    EXPECT_EQ(docOffset[0], 512000.0);
    CScanPos* pts = doc.FindModel(dir.File("extra.pts"));
    ASSERT_NE(pts, nullptr);
    pts->GetOffset(ptsOffset);
    pts->GetPolyData()->GetPoint(0, q);
    EXPECT_DOUBLE_EQ(docOffset[0] + ptsOffset[0] + q[0], 512010.0);
    EXPECT_DOUBLE_EQ(docOffset[1] + ptsOffset[1] + q[1], 5400020.0);
    EXPECT_DOUBLE_EQ(docOffset[2] + ptsOffset[2] + q[2], 301.0);
    // A .vtw beside a scan file does not move it: the file carries its frame.
    WriteText(dir.File("scan.vtw"), "[PolyData Offset]\nX=1\nY=2\nZ=3\n");
    CQuarlonDoc other;
    other.SetView(&view);
    other.SetSettingsReadOnly(true);
    ASSERT_TRUE(other.OnOpenDocument(dir.File("scan.las")));
    other.GetOffset(docOffset);
    EXPECT_EQ(docOffset[1], 5400000.0);
    other.OnCloseDocument();
    doc.OnCloseDocument();
}

// Files crafted to exhaust memory or the stack: tiny files that declare huge
// data, deeply nested XML, absurd image headers, parallel files with
// thousands of pieces. Each is refused from its declarations, before a
// reader allocates anything, and every well-formed variant still loads.
#include "Fixtures.h"
#include "core/common/ImageHeader.h"
#include "core/common/Paths.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/model/ModelFileCheck.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkXMLPolyDataWriter.h>

#include <cstdlib>
#include <cstring>
#include <sys/wait.h>

namespace {

std::string Base64(const std::string& bytes)
{
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], a[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = (unsigned char)bytes[i] << 16;
        out += {a[v >> 18], a[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], '='};
    }
    return out;
}

std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

const char* const kXmlHead =
    "<?xml version=\"1.0\"?>\n<VTKFile type=\"PolyData\" version=\"1.0\" byte_order=\"LittleEndian\" "
    "header_type=\"UInt32\" compressor=\"vtkZLibDataCompressor\">\n<PolyData>\n"
    "<Piece NumberOfPoints=\"1\" NumberOfVerts=\"0\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"0\">\n";

// The crafted files of the review, by name; each must be refused.
std::vector<std::pair<std::string, std::string>> CraftedModels()
{
    std::vector<std::pair<std::string, std::string>> files;
    // A zlib block header that declares 0xFFFFFFFF blocks, inline and appended.
    const std::string header = U32(0xFFFFFFFFu) + U32(32768) + U32(12) + U32(20);
    files.emplace_back("blocks.vtp", std::string(kXmlHead) +
                                         "<Points><DataArray type=\"Float32\" NumberOfComponents=\"3\" format=\"binary\">" +
                                         Base64(header) + Base64(std::string(20, 'x')) +
                                         "</DataArray></Points>\n</Piece>\n</PolyData>\n</VTKFile>\n");
    files.emplace_back("appended.vtp", std::string(kXmlHead) +
                                           "<Points><DataArray type=\"Float32\" NumberOfComponents=\"3\" "
                                           "format=\"appended\" offset=\"0\"/></Points>\n</Piece>\n</PolyData>\n"
                                           "<AppendedData encoding=\"raw\">\n_" + header + std::string(20, 'x') +
                                           "\n</AppendedData>\n</VTKFile>\n");
    // One block of 4 GiB from 20 bytes.
    files.emplace_back("bigblock.vtp", std::string(kXmlHead) +
                                           "<Points><DataArray type=\"Float32\" NumberOfComponents=\"3\" format=\"binary\">" +
                                           Base64(U32(1) + U32(0xFFFFFFF0u) + U32(0xFFFFFFF0u) + U32(20)) +
                                           Base64(std::string(20, 'x')) +
                                           "</DataArray></Points>\n</Piece>\n</PolyData>\n</VTKFile>\n");
    // Legacy files of about 120 bytes that declare a billion of something.
    const std::string legacy = "# vtk DataFile Version 3.0\nhostile\nBINARY\nDATASET POLYDATA\n";
    files.emplace_back("points.vtk", legacy + "POINTS 1000000000 float\n" + std::string(12, '\0') + "\n");
    files.emplace_back("polygons.vtk", legacy + "POINTS 3 float\n" + std::string(36, '\0') +
                                           "\nPOLYGONS 1000000000 4000000000\n" + std::string(16, '\0') + "\n");
    files.emplace_back("field.vtk", legacy + "POINTS 1 float\n" + std::string(12, '\0') +
                                        "\nPOINT_DATA 1\nFIELD FieldData 1\nbig 1 2000000000 float\n" +
                                        std::string(4, '\0') + "\n");
    files.emplace_back("datasetfield.vtk", legacy + "FIELD FieldData 1\nbig 1 2000000000 float\n" + std::string(4, '\0'));
    files.emplace_back("ascii.vtk", "# vtk DataFile Version 3.0\nx\nASCII\nDATASET POLYDATA\nPOINTS 1000000000 float\n0 0 0\n");
    files.emplace_back("v5.vtk", "# vtk DataFile Version 5.1\nx\nBINARY\nDATASET POLYDATA\nPOINTS 1 float\n" +
                                     std::string(12, '\0') + "\nPOLYGONS 1000000000 3\nOFFSETS vtktypeint64\n" +
                                     std::string(16, '\0') + "\nCONNECTIVITY vtktypeint64\n" + std::string(24, '\0') + "\n");
    files.emplace_back("pointdata.vtk", legacy + "POINTS 1 float\n" + std::string(12, '\0') +
                                            "\nPOINT_DATA 1000000000\nSCALARS s float\nLOOKUP_TABLE default\n" +
                                            std::string(4, '\0') + "\n");
    // Nesting deep enough to overflow the stack of a recursive tree.
    std::string nested = "<?xml version=\"1.0\"?>\n<VTKFile type=\"PolyData\" version=\"0.1\"><PolyData>";
    for (int i = 0; i < 150000; ++i)
        nested += "<a>";
    files.emplace_back("unclosed.vtp", nested);
    for (int i = 0; i < 150000; ++i)
        nested += "</a>";
    files.emplace_back("nested.vtp", nested + "</PolyData></VTKFile>\n");
    return files;
}

bool IsDeclarationRefusal(const std::string& why)
{
    return why.find("declares more data than it holds") != std::string::npos ||
           why.find("nested too deeply") != std::string::npos;
}

struct HostileFiles : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    HostileFiles() { doc.SetView(&view); }
};

// quarlon-cli info under a 1.5 GB address-space limit and a time limit.
int InfoUnderLimits(const TempDir& dir, const std::string& file, std::string& err)
{
    const std::string errFile = dir.File("err.txt");
    // Sanitizer builds reserve terabytes of shadow memory: no limit there.
    const char* limit = std::getenv("QUARLON_TEST_NO_MEMLIMIT") ? "" : "ulimit -v 1500000; ";
    const std::string cmd = std::string("bash -c \"") + limit + "exec timeout 30 '" + QUARLON_CLI + "' info '" + file +
                            "'\" >/dev/null 2>'" + errFile + "'";
    const int raw = std::system(cmd.c_str());
    err = ReadText(errFile);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

} // namespace

TEST_F(HostileFiles, TinyFilesDeclaringHugeDataAreRefusedBeforeReading)
{
    for (const auto& [name, content] : CraftedModels()) {
        WriteText(dir.File(name), content);
        const std::string ext = name.substr(name.rfind('.'));
        EXPECT_TRUE(IsDeclarationRefusal(modelcheck::CheckModelFile(dir.File(name), ext))) << name;
    }
}

TEST_F(HostileFiles, TheCommandLineFailsWithinMemoryAndTimeLimits)
{
    for (const auto& [name, content] : CraftedModels()) {
        WriteText(dir.File(name), content);
        std::string err;
        EXPECT_EQ(InfoUnderLimits(dir, dir.File(name), err), 1) << name << ": " << err;
        EXPECT_NE(err.find(name), std::string::npos) << err;
        // The reason names the declarations: the limit was never reached.
        EXPECT_TRUE(IsDeclarationRefusal(err)) << err;
    }
}

TEST_F(HostileFiles, EveryWellFormedEncodingPassesTheChecks)
{
    vtkNew<vtkPolyData> poly;
    {
        TempDir src;
        WriteModel(src.File("m.vtp"), {30, 20, true, {RgbArray(), IntensityArray(), TextureArray()}});
        CScanPos* m = doc.AddModel(src.File("m.vtp"));
        ASSERT_NE(m, nullptr);
        poly->DeepCopy(m->GetPolyData());
        doc.RemoveAllModels();
    }
    vtkNew<vtkFloatArray> field;
    field->SetName("meta");
    field->SetNumberOfValues(5);
    for (int i = 0; i < 5; ++i)
        field->SetValue(i, i);
    poly->GetFieldData()->AddArray(field);

    std::vector<std::string> names;
    for (int mode : {0, 1, 2})
        for (int compressor : {0, 1, 2, 3})
            for (int header : {32, 64}) {
                const std::string name = "x" + std::to_string(mode) + std::to_string(compressor) + std::to_string(header) + ".vtp";
                vtkNew<vtkXMLPolyDataWriter> w;
                w->SetInputData(poly);
                w->SetFileName(dir.File(name).c_str());
                w->SetDataMode(mode); // ascii, binary, appended
                w->SetCompressorType(compressor); // none, zlib, lz4, lzma
                w->SetHeaderType(header);
                if (mode == 2 && compressor == 0)
                    w->SetEncodeAppendedData(header == 64); // base64 and raw
                if (header == 32)
                    w->SetBlockSize(1024); // several blocks per array
                // (the default block size, with 64-bit headers, is far larger
                // than the empty arrays of lines and strips)
                ASSERT_EQ(w->Write(), 1) << name;
                names.push_back(name);
            }
    for (int version : {42, 51})
        for (bool binary : {false, true}) {
            const std::string name = "l" + std::to_string(version) + (binary ? "b" : "a") + ".vtk";
            vtkNew<vtkPolyDataWriter> w;
            w->SetInputData(poly);
            w->SetFileName(dir.File(name).c_str());
            w->SetFileVersion(version);
            binary ? w->SetFileTypeToBinary() : w->SetFileTypeToASCII();
            w->SetWriteArrayMetaData(true);
            ASSERT_EQ(w->Write(), 1) << name;
            names.push_back(name);
        }
    for (const std::string& name : names) {
        EXPECT_EQ(modelcheck::CheckModelFile(dir.File(name), name.substr(name.rfind('.'))), "") << name;
        CScanPos* m = doc.AddModel(dir.File(name));
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(m->GetPolyData()->GetNumberOfPoints(), 600) << name;
        doc.RemoveAllModels();
    }
}

TEST_F(HostileFiles, ParallelFilesWithThousandsOfPiecesOrMissingPiecesAreRefused)
{
    WriteModel(dir.File("p0.vtp"), {5, 5, true, {}});
    auto pvtp = [](int pieces, const std::string& source) {
        std::string s = "<?xml version=\"1.0\"?>\n<VTKFile type=\"PPolyData\" version=\"0.1\">\n<PPolyData GhostLevel=\"0\">\n"
                        "<PPoints><PDataArray type=\"Float32\" NumberOfComponents=\"3\"/></PPoints>\n";
        for (int i = 0; i < pieces; ++i)
            s += "<Piece Source=\"" + source + "\"/>\n";
        return s + "</PPolyData>\n</VTKFile>\n";
    };
    WriteText(dir.File("many.pvtp"), pvtp(20000, "p0.vtp"));
    EXPECT_EQ(doc.AddModel(dir.File("many.pvtp")), nullptr);
    EXPECT_NE(doc.GetLoadFailures().back().second.find("more pieces"), std::string::npos);
    WriteText(dir.File("missing.pvtp"), pvtp(2, "nothere.vtp"));
    EXPECT_EQ(doc.AddModel(dir.File("missing.pvtp")), nullptr);
    EXPECT_NE(doc.GetLoadFailures().back().second.find("missing"), std::string::npos);
    // A hostile piece is judged like a file of its own.
    WriteText(dir.File("bad.vtp"), CraftedModels().front().second);
    WriteText(dir.File("badpiece.pvtp"), pvtp(1, "bad.vtp"));
    EXPECT_EQ(doc.AddModel(dir.File("badpiece.pvtp")), nullptr);
    WriteText(dir.File("two.pvtp"), pvtp(2, "p0.vtp"));
    CScanPos* m = doc.AddModel(dir.File("two.pvtp"));
    ASSERT_NE(m, nullptr) << doc.GetLoadFailures().back().second;
    EXPECT_EQ(m->GetPolyData()->GetNumberOfPoints(), 50);
}

TEST_F(HostileFiles, AProjectOfManyMissingFilesScansTheirFolderOnce)
{
    for (int i = 0; i < 300; ++i)
        WriteText(dir.File("other" + std::to_string(i) + ".txt"), "");
    WriteModel(dir.File("Real.vtp"), {4, 4, true, {}});
    std::string project = "201\r\n";
    for (int i = 0; i < 200; ++i)
        project += "missing" + std::to_string(i) + ".vtp\r\n";
    project += "real.vtp\r\n";
    WriteText(dir.File("p.mvtp"), project);
    const size_t before = qpath::FolderScans();
    ASSERT_TRUE(doc.OnOpenDocument(dir.File("p.mvtp")));
    EXPECT_EQ(doc.GetModelCount(), 1);
    // The project's folder once, plus what the one model's companions need.
    EXPECT_LE(qpath::FolderScans() - before, 5u);
}

TEST_F(HostileFiles, AbsurdTextureHeadersLeaveTheModelUntextured)
{
    // A 65-byte PNG declaring 2147483647 x 2147483647 pixels.
    std::string png = "\x89PNG\r\n\x1a\n";
    png += std::string("\0\0\0\x0dIHDR", 8) + "\x7f\xff\xff\xff\x7f\xff\xff\xff" + std::string("\x08\x02\0\0\0", 5);
    png += std::string(65 - png.size(), '\0');
    ASSERT_EQ(png.size(), 65u);
    WriteText(dir.File("huge.png"), png);
    // A JPEG frame of 65500 x 65500, a BMP and a PNM of 40000 x 40000.
    std::string jpeg = "\xff\xd8\xff\xc0" + std::string("\x00\x11\x08\xff\xdc\xff\xdc\x03", 8) + std::string(60, '\0');
    WriteText(dir.File("huge.jpg"), jpeg);
    std::string bmp = "BM" + std::string(12, '\0') + U32(40) + U32(40000) + U32(40000) + std::string(30, '\0');
    WriteText(dir.File("huge.bmp"), bmp);
    WriteText(dir.File("huge.pnm"), "P6\n# comment\n40000 40000\n255\n");
    // 20000 x 20000 RGB is 1.2 GB once decoded: over the limit too.
    std::string big = "\x89PNG\r\n\x1a\n";
    big += std::string("\0\0\0\x0dIHDR", 8) + std::string("\0\0\x4e\x20\0\0\x4e\x20", 8) + std::string("\x08\x02\0\0\0", 5);
    WriteText(dir.File("big.png"), big + std::string(30, '\0'));

    for (const char* image : {"huge.png", "huge.jpg", "huge.bmp", "huge.pnm", "big.png"}) {
        EXPECT_NE(image::CheckDecodable(dir.File(image)).find("too large"), std::string::npos) << image;
        const std::string stem = std::string("m_") + std::string(image).substr(0, std::string(image).find('.')) +
                                 std::string(image).substr(std::string(image).find('.') + 1);
        WriteModel(dir.File(stem + ".vtp"), {5, 5, true, {TextureArray()}});
        WriteText(dir.File(stem + ".tex"), std::string("[Texture]\nFile=") + image + "\n");
        CScanPos* m = doc.AddModel(dir.File(stem + ".vtp"));
        ASSERT_NE(m, nullptr) << image;
        EXPECT_EQ(m->GetTexture(), nullptr) << image;
    }
    // Real images of every kind pass, with their true sizes.
    for (const char* ok : {"ok.png", "ok.jpg", "ok.bmp"}) {
        WriteImage(dir.File(ok), 40, 24);
        image::Header h;
        ASSERT_TRUE(image::ReadHeader(dir.File(ok), h)) << ok;
        EXPECT_EQ(h.width, 40) << ok;
        EXPECT_EQ(h.height, 24) << ok;
        EXPECT_EQ(image::CheckDecodable(dir.File(ok)), "") << ok;
    }
}

TEST_F(HostileFiles, ScanFilesOfOtherProgramsDeclaringHugeDataFailWithinLimits)
{
    LasFile las;
    las.points.resize(2);
    std::string billion = LasBytes(las);
    const uint32_t many = 1000000000u;
    std::memcpy(&billion[107], &many, 4);
    LasFile las14;
    las14.minor = 4;
    las14.format = 7;
    las14.points.resize(2);
    std::string huge14 = LasBytes(las14);
    const uint64_t lots = uint64_t(1) << 62;
    std::memcpy(&huge14[247], &lots, 8);
    std::string stl(80, '\xC8');
    stl += U32(400000000u) + std::string(50, '\0');
    const std::vector<std::pair<std::string, std::string>> files = {
        {"billion.las", billion},
        {"huge14.las", huge14},
        {"vertices.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 1000000000\nproperty double x\n"
                         "property double y\nproperty double z\nend_header\n" + std::string(24, '\0')},
        {"faces.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nproperty float z\n"
                      "element face 1000000000000\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n"},
        {"lie.stl", stl},
    };
    for (const auto& [name, content] : files) {
        WriteText(dir.File(name), content);
        std::string err;
        EXPECT_EQ(InfoUnderLimits(dir, dir.File(name), err), 1) << name << ": " << err;
        EXPECT_NE(err.find(name), std::string::npos) << err;
        EXPECT_TRUE(err.find("declares") != std::string::npos || err.find("more data") != std::string::npos) << err;
    }
    // A PTS count is only a hint: nothing is reserved from it.
    WriteText(dir.File("count.pts"), "4000000000000\n1 2 3\n");
    std::string err;
    EXPECT_EQ(InfoUnderLimits(dir, dir.File("count.pts"), err), 0) << err;
}

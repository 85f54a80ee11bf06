// Whatever a file holds, loading fails cleanly or falls back to defaults:
// no crash, no hang, no library messages.
#include "Fixtures.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <vtkPolyData.h>

#include <sys/stat.h>

namespace {

struct BadInput : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    BadInput() { doc.SetView(&view); }

    void ExpectRefused(const std::string& name)
    {
        EXPECT_EQ(doc.AddModel(dir.File(name)), nullptr) << name;
        EXPECT_EQ(doc.GetModelCount(), 0) << name;
        EXPECT_FALSE(FileExists(dir.File(name.substr(0, name.rfind('.')) + ".ini")))
            << "a failed load must not leave a settings file: " << name;
    }
};

std::string RandomBytes(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

} // namespace

TEST_F(BadInput, EmptyRandomAndDirectoryModelsAreRefused)
{
    for (const char* ext : {".vtp", ".vtk", ".pvtp"}) {
        WriteText(dir.File(std::string("empty") + ext), "");
        ExpectRefused(std::string("empty") + ext);
        WriteText(dir.File(std::string("random") + ext), RandomBytes(100000, 7));
        ExpectRefused(std::string("random") + ext);
        ASSERT_EQ(::mkdir(dir.File(std::string("folder") + ext).c_str(), 0755), 0);
        ExpectRefused(std::string("folder") + ext);
    }
}

TEST_F(BadInput, TruncatedAndCorruptedModelsAreRefused)
{
    for (bool legacy : {false, true}) {
        const std::string name = legacy ? "good.vtk" : "good.vtp";
        WriteModel(dir.File(name), {40, 40, true, {RgbArray(), IntensityArray()}, legacy});
        const std::string good = ReadText(dir.File(name));
        for (size_t cut : {good.size() / 2, good.size() / 10, size_t(40)}) {
            const std::string bad = std::string("cut") + std::to_string(cut) + (legacy ? ".vtk" : ".vtp");
            WriteText(dir.File(bad), good.substr(0, cut));
            CScanPos* m = doc.AddModel(dir.File(bad));
            // A legacy file cut after its header may still yield a valid
            // (smaller) model; it must never yield garbage counts.
            if (m) {
                EXPECT_LE(m->GetPolyData()->GetNumberOfPoints(), 1600) << bad;
                doc.RemoveAllModels();
            }
        }
        // Flip bytes in the middle of the data.
        std::string flipped = good;
        for (size_t i = flipped.size() / 3; i < flipped.size() / 3 + 64; ++i)
            flipped[i] = static_cast<char>(~flipped[i]);
        WriteText(dir.File(legacy ? "flip.vtk" : "flip.vtp"), flipped);
        if (CScanPos* m = doc.AddModel(dir.File(legacy ? "flip.vtk" : "flip.vtp"))) {
            EXPECT_LE(m->GetPolyData()->GetNumberOfPoints(), 1600);
        }
        doc.RemoveAllModels();
    }
}

TEST_F(BadInput, HugeDeclaredSizesFailWithoutExhaustingMemory)
{
    WriteText(dir.File("huge.vtk"),
              "# vtk DataFile Version 3.0\nx\nASCII\nDATASET POLYDATA\nPOINTS 2000000000 float\n0 0 0 1 1 1\n");
    ExpectRefused("huge.vtk");
    WriteText(dir.File("huge.vtp"),
              "<VTKFile type=\"PolyData\" version=\"0.1\" byte_order=\"LittleEndian\">\n<PolyData>\n"
              "<Piece NumberOfPoints=\"2000000000\" NumberOfVerts=\"0\" NumberOfLines=\"0\" NumberOfStrips=\"0\" "
              "NumberOfPolys=\"0\">\n<Points><DataArray type=\"Float32\" NumberOfComponents=\"3\" "
              "format=\"ascii\">0 0 0</DataArray></Points>\n</Piece>\n</PolyData>\n</VTKFile>\n");
    ExpectRefused("huge.vtp");
}

TEST_F(BadInput, BrokenCompanionFilesFallBackToDefaults)
{
    WriteModel(dir.File("m.vtp"), {5, 5, true, {RgbArray()}});
    WriteText(dir.File("m.vtw"), RandomBytes(4096, 3));
    WriteText(dir.File("m.tex"), RandomBytes(4096, 4));
    WriteText(dir.File("m.ini"), "[CloudData]\nRepresentation=" + std::string(300, '9') + "\n");
    CScanPos* m = doc.AddModel(dir.File("m.vtp"));
    ASSERT_NE(m, nullptr);
    double o[3];
    doc.GetOffset(o);
    EXPECT_EQ(o[0], 0.0);
    EXPECT_EQ(m->GetTexture(), nullptr);
    // An enormous index is stored as it is and changes nothing visible.
    EXPECT_GT(m->GetRepresentation(), 17);
    EXPECT_EQ(m->GetActiveArrayName(), "RGB");

    // Companion files that are directories are no companion files.
    ::mkdir(dir.File("d.vtw").c_str(), 0755);
    ::mkdir(dir.File("d.ini").c_str(), 0755);
    WriteModel(dir.File("d.vtp"), {5, 5, true, {}});
    ASSERT_NE(doc.AddModel(dir.File("d.vtp")), nullptr);
    doc.RemoveAllModels(); // cannot write d.ini; must not throw or crash
}

TEST_F(BadInput, ModelsWithoutPointsOrCellsStillBehave)
{
    WriteModel(dir.File("one.vtp"), {1, 1, false, {IntensityArray()}});
    CScanPos* m = doc.AddModel(dir.File("one.vtp"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetActiveArrayName(), ""); // a single value is a constant array
    for (int i = -1; i < 19; ++i)
        m->SetRepresentation(i);
    m->UpdateRepresentationIndex();
    EXPECT_EQ(m->GetRepresentation(), 14); // the last accepted: Surface One Color
}

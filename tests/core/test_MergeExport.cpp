// The merged exports: the point listing byte for byte against printf, the
// worked example of the format, PLY read back with VTK's reader, and files
// that are never half written.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/exchange/MergeExport.h"
#include "core/common/Paths.h"
#include "core/formats/vtkModelFileReader.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/common/ProgressSink.h"

#include <gtest/gtest.h>

#include <vtkActor.h>
#include <vtkActorCollection.h>
#include <vtkCellArray.h>
#include <vtkMapper.h>
#include <vtkOBJImporter.h>
#include <vtkVRMLImporter.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkPLYReader.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sys/mount.h>
#include <sstream>
#include <sys/stat.h>

using namespace exchange;

namespace {

struct MergeExport : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    MergeExport() { doc.SetView(&view); }
    CScanPos* Add(const std::string& name, const ModelShape& shape, const std::string& offset = "")
    {
        WriteModel(dir.File(name), shape);
        if (!offset.empty())
            WriteText(dir.File(name.substr(0, name.rfind('.')) + ".vtw"), "[PolyData Offset]\nX=" + offset + "\n");
        return doc.AddModel(dir.File(name));
    }
};

double Odd(int i, int j)
{
    // Negative zero, halves that round either way, large and small values.
    const double v[] = {-0.0, 0.0000005, -0.0000005, 1.0000005, 123456.7890125, -2.5e-7, 1e15, -987654321.123456789};
    return v[(i * 3 + j) % 8];
}

double NegativeColour(long i, int c) { return c == 0 ? -1.7 : c == 1 ? 255.9 : (i % 7) * 40.6; }

} // namespace

TEST_F(MergeExport, TheListingIsByteForByteWhatPrintfWrites)
{
    ASSERT_NE(Add("a.vtp", {12, 9, true, {RgbArray(), TextureArray()}, false, &Odd}, "500000.123456789"), nullptr);
    WriteText(dir.File("a.tex"), "[Texture]\nFile=tex\\a b.jpg\n");
    ArrayShape floatColours{"RGB", 3, ArrayShape::Float, &NegativeColour};
    ASSERT_NE(Add("b.vtp", {7, 5, false, {floatColours, IntensityArray()}, false, &Odd}, "-4500000.5"), nullptr);
    ASSERT_NE(Add("c.vtp", {3, 3, true, {}}), nullptr); // no RGB: the solid colour
    ASSERT_EQ(WriteXyzRgbListing(doc, dir.File("fast.txt"), nullptr), ExportResult::Ok);
    ASSERT_TRUE(WriteXyzRgbListingPlain(doc, dir.File("plain.txt")));
    const std::string fast = ReadText(dir.File("fast.txt"));
    EXPECT_EQ(fast.size(), ReadText(dir.File("plain.txt")).size());
    EXPECT_TRUE(fast == ReadText(dir.File("plain.txt")));
    // Nine fields with a texture (the image name as stored), six without.
    const std::string first = fast.substr(0, fast.find('\n'));
    EXPECT_NE(first.find(" tex\\a b.jpg"), std::string::npos) << first;
    EXPECT_NE(fast.find("-0.000000"), std::string::npos) << "negative zero as printf writes it";
    EXPECT_EQ(fast.substr(fast.rfind('\n', fast.size() - 2) + 1), fast.substr(fast.rfind('\n', fast.size() - 2) + 1));
    const std::string last = fast.substr(fast.rfind('\n', fast.size() - 2) + 1);
    EXPECT_EQ(std::count(last.begin(), last.end(), ' '), 5) << last;
    EXPECT_NE(last.find(" 255 255 255\n"), std::string::npos) << "white, the solid colour of a model without RGB: " << last;
}

TEST_F(MergeExport, TheWorkedExampleOfTheFormat)
{
    // A point (1.5, 2, 3), offsets adding up to (100, 200, 0), colour
    // (255, 128, 0), texture (0.25, 0.75), image a.jpg.
    static const double point[3] = {1.5, 2, 3};
    ModelShape one{1, 1, false, {}, false, [](int, int) { return 3.0; }};
    one.arrays = {{"RGB", 3, ArrayShape::UChar, [](long, int c) { return c == 0 ? 255.0 : c == 1 ? 128.0 : 0.0; }},
                  {"Texture", 2, ArrayShape::Float, [](long, int c) { return c == 0 ? 0.25 : 0.75; }}};
    WriteModel(dir.File("w.vtp"), one);
    WriteText(dir.File("w.vtw"), "[PolyData Offset]\nX=101.5\nY=202\nZ=0\n"); // the grid point is at (0, 0)
    WriteText(dir.File("w.tex"), "[Texture]\nFile=a.jpg\n");
    ASSERT_NE(doc.AddModel(dir.File("w.vtp")), nullptr);
    (void)point;
    ASSERT_EQ(WriteXyzRgbListing(doc, dir.File("w.txt"), nullptr), ExportResult::Ok);
    EXPECT_EQ(ReadText(dir.File("w.txt")), "101.500000 202.000000 3.000000 255 128 0 0.250000 0.750000 a.jpg\n");
    // Without a descriptor the line ends in a space before the line end.
    ::unlink(dir.File("w.tex").c_str());
    CQuarlonDoc again;
    again.SetView(&view);
    ASSERT_NE(again.AddModel(dir.File("w.vtp")), nullptr);
    ASSERT_EQ(WriteXyzRgbListing(again, dir.File("w2.txt"), nullptr), ExportResult::Ok);
    EXPECT_EQ(ReadText(dir.File("w2.txt")), "101.500000 202.000000 3.000000 255 128 0 0.250000 0.750000 \n");
}

TEST_F(MergeExport, PlyHoldsEveryModelAtItsPlaceWithColours)
{
    ASSERT_NE(Add("a.vtp", {4, 3, true, {RgbArray()}}, "1000"), nullptr);
    ASSERT_NE(Add("b.vtp", {4, 3, true, {}}, "1010"), nullptr); // no colours: its solid colour
    for (bool binary : {false, true}) {
        const std::string out = dir.File(binary ? "b.ply" : "a.ply");
        std::string why;
        ASSERT_EQ(WriteMergedPly(doc, out, binary, nullptr, &why), ExportResult::Ok) << why;
        const std::string text = ReadText(out);
        EXPECT_NE(text.find(binary ? "format binary" : "format ascii"), std::string::npos);
        EXPECT_NE(text.find("comment offset 1000.000000 0.000000 0.000000"), std::string::npos);
        vtkNew<vtkPLYReader> reader;
        reader->SetFileName(out.c_str());
        reader->Update();
        vtkPolyData* back = reader->GetOutput();
        ASSERT_EQ(back->GetNumberOfPoints(), 24);
        double bounds[6];
        back->GetBounds(bounds);
        EXPECT_DOUBLE_EQ(bounds[0], 0.0);
        EXPECT_DOUBLE_EQ(bounds[1], 13.0) << "the second model 10 m east of the first";
        EXPECT_EQ(back->GetNumberOfPolys(), 2 * 12) << "the triangles of both models";
        auto* rgb = vtkUnsignedCharArray::SafeDownCast(back->GetPointData()->GetArray("RGB"));
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb->GetValue(3 * 23), 255) << "white, the second model's solid colour";
        // The second model's triangles index its own points.
        vtkIdType n = 0;
        const vtkIdType* ids = nullptr;
        back->GetPolys()->GetCellAtId(12, n, ids);
        ASSERT_EQ(n, 3);
        EXPECT_GE(*std::min_element(ids, ids + 3), 12);
    }
}

TEST_F(MergeExport, AFailedOrAbortedExportKeepsTheFileThatWasThere)
{
    ASSERT_NE(Add("a.vtp", {30, 30, true, {RgbArray()}}), nullptr);
    WriteText(dir.File("keep.txt"), "the user's file");
    struct Aborter : IProgressSink {
        bool SetText(const std::string&) override { return true; }
        void SetFraction(double) override {}
        bool IsAborted() const override { return true; }
    } abort;
    EXPECT_EQ(WriteXyzRgbListing(doc, dir.File("keep.txt"), &abort), ExportResult::Aborted);
    EXPECT_EQ(ReadText(dir.File("keep.txt")), "the user's file");
    EXPECT_EQ(WriteMergedPly(doc, dir.File("keep.txt"), true, &abort), ExportResult::Aborted);
    EXPECT_EQ(ReadText(dir.File("keep.txt")), "the user's file");
    EXPECT_FALSE(HasTemporary(dir.Path()));
    std::string why;
    EXPECT_EQ(WriteXyzRgbListing(doc, dir.File("nofolder/x.txt"), nullptr, &why), ExportResult::Failed);
    EXPECT_FALSE(why.empty());

    const std::string mnt = dir.File("small");
    ::mkdir(mnt.c_str(), 0755);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    WriteText(mnt + "/out.txt", "old");
    EXPECT_EQ(WriteXyzRgbListing(doc, mnt + "/out.txt", nullptr, &why), ExportResult::Failed);
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    EXPECT_EQ(ReadText(mnt + "/out.txt"), "old");
    EXPECT_FALSE(HasTemporary(mnt));
    // The merged PLY sees the full disk too.
    WriteText(mnt + "/out.ply", "old");
    EXPECT_EQ(WriteMergedPly(doc, mnt + "/out.ply", false, nullptr, &why), ExportResult::Failed);
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    EXPECT_EQ(ReadText(mnt + "/out.ply"), "old");
    EXPECT_FALSE(HasTemporary(mnt));
    // So do the library's scene writers, which report nothing themselves.
    WriteText(mnt + "/scene.obj", "old");
    EXPECT_EQ(WriteScene(doc, mnt + "/scene.obj", SceneFormat::Obj, nullptr, &why), ExportResult::Failed);
    EXPECT_NE(why.find("disk full"), std::string::npos) << why;
    EXPECT_EQ(ReadText(mnt + "/scene.obj"), "old");
    EXPECT_FALSE(FileExists(mnt + "/scene.mtl"));
    ::umount(mnt.c_str());
}

TEST_F(MergeExport, TheCommandLineExportsADocumentOfSeveralFiles)
{
    WriteModel(dir.File("a.vtp"), {3, 2, true, {RgbArray()}});
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=100\nY=200\nZ=0\n");
    WriteModel(dir.File("b.vtp"), {2, 2, true, {}});
    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=110\nY=200\nZ=0\n");
    CliRun r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("out.txt")) + " " + Q(dir.File("a.vtp")) + " " +
                               Q(dir.File("b.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadText(dir.File("out.txt"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
    EXPECT_EQ(text.substr(0, 21), "100.000000 200.000000");
    EXPECT_NE(text.find("\n110.000000 200.000000 "), std::string::npos) << "the second model at its own offset";

    r = RunCli(dir, "export --format ply-binary -o " + Q(dir.File("out.ply")) + " " + Q(dir.File("a.vtp")) + " " +
                        Q(dir.File("b.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadText(dir.File("out.ply")).find("comment offset 100.000000 200.000000"), std::string::npos);

    // Failures: the reason, and the file that was there stays.
    WriteText(dir.File("keep.txt"), "mine");
    r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("keep.txt")) + " " + Q(dir.File("missing.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.vtp"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir.File("keep.txt")), "mine");
    EXPECT_EQ(RunCli(dir, "export --format svg -o x " + Q(dir.File("a.vtp"))).status, 2);
    r = RunCli(dir, "export --format obj -o " + Q(dir.File("scene.obj")) + " " + Q(dir.File("a.vtp")) + " " +
                        Q(dir.File("b.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(dir.File("scene.mtl")));
    r = RunCli(dir, "export --format vrml -o " + Q(dir.File("scene.wrl")) + " " + Q(dir.File("a.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(dir.File("scene.wrl")).substr(0, 10), "#VRML V2.0");
}

TEST_F(MergeExport, ObjAndVrmlHoldEveryVisibleModelAsDrawn)
{
    ASSERT_NE(Add("a.vtp", {5, 4, true, {RgbArray()}}, "1000"), nullptr);
    CScanPos* b = Add("b.vtp", {3, 3, true, {}}, "1010");
    ASSERT_NE(b, nullptr);
    WriteText(dir.File("scene.obj"), "the user's old file");
    std::string why;
    ASSERT_EQ(WriteScene(doc, dir.File("scene.obj"), SceneFormat::Obj, nullptr, &why), ExportResult::Ok) << why;
    const std::string obj = ReadText(dir.File("scene.obj"));
    EXPECT_NE(obj.find("mtllib scene.mtl"), std::string::npos) << "the material file is named as it ends up";
    EXPECT_TRUE(FileExists(dir.File("scene.mtl")));
    size_t vertices = 0;
    for (size_t at = obj.find("\nv "); at != std::string::npos; at = obj.find("\nv ", at + 1))
        ++vertices;
    EXPECT_EQ(vertices, 29u) << "20 + 9 points";
    // The second model 10 m east of the first, as the view draws it.
    EXPECT_NE(obj.find("\nv 10 0 "), std::string::npos) << obj.substr(0, 400);

    // VTK's importer reads it back: two models, their points, the
    // second one's place.
    {
        vtkNew<vtkOBJImporter> importer;
        importer->SetFileName(dir.File("scene.obj").c_str());
        importer->SetFileNameMTL(dir.File("scene.mtl").c_str());
        vtkNew<vtkRenderWindow> window;
        vtkNew<vtkRenderer> renderer;
        window->AddRenderer(renderer);
        importer->SetRenderWindow(window);
        importer->Update();
        // Each group holds all the file's vertices; its faces tell the model.
        vtkActorCollection* actors = renderer->GetActors();
        std::vector<std::pair<vtkIdType, double>> models; // faces, smallest x of their points
        actors->InitTraversal();
        while (vtkActor* actor = actors->GetNextActor()) {
            auto* data = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
            if (!data || data->GetNumberOfPolys() == 0)
                continue;
            double xmin = 1e300;
            vtkIdType n = 0;
            const vtkIdType* ids = nullptr;
            for (data->GetPolys()->InitTraversal(); data->GetPolys()->GetNextCell(n, ids);)
                for (vtkIdType k = 0; k < n; ++k)
                    xmin = std::min(xmin, data->GetPoint(ids[k])[0]);
            models.push_back({data->GetNumberOfPolys(), xmin});
        }
        std::sort(models.begin(), models.end());
        ASSERT_EQ(models.size(), 2u);
        EXPECT_EQ(models[0].first, 8) << "the 3 x 3 model's triangles";
        EXPECT_DOUBLE_EQ(models[0].second, 10.0) << "10 m east of the other";
        EXPECT_EQ(models[1].first, 24);
        EXPECT_DOUBLE_EQ(models[1].second, 0.0);
    }
    ASSERT_EQ(WriteScene(doc, dir.File("scene.wrl"), SceneFormat::Vrml, nullptr, &why), ExportResult::Ok) << why;
    const std::string wrl = ReadText(dir.File("scene.wrl"));
    EXPECT_EQ(wrl.substr(0, 10), "#VRML V2.0");
    EXPECT_NE(wrl.find("IndexedFaceSet"), std::string::npos);
    {
        vtkNew<vtkVRMLImporter> importer;
        importer->SetFileName(dir.File("scene.wrl").c_str());
        vtkNew<vtkRenderWindow> window;
        vtkNew<vtkRenderer> renderer;
        window->AddRenderer(renderer);
        importer->SetRenderWindow(window);
        importer->Update();
        vtkIdType faces = 0, points = 0;
        vtkActorCollection* actors = renderer->GetActors();
        actors->InitTraversal();
        while (vtkActor* actor = actors->GetNextActor())
            if (auto* data = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput()))
                faces += data->GetNumberOfPolys(), points += data->GetNumberOfPoints();
        EXPECT_EQ(faces, 32);
        EXPECT_EQ(points, 29);
    }

    // Hidden models are not part of the scene; nothing left behind.
    b->SetVisibility(false);
    ASSERT_EQ(WriteScene(doc, dir.File("one.obj"), SceneFormat::Obj, nullptr, &why), ExportResult::Ok) << why;
    const std::string one = ReadText(dir.File("one.obj"));
    EXPECT_EQ(one.find("\nv 10 0 "), std::string::npos);
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".quarlon-export"), std::string::npos);
}

TEST_F(MergeExport, ObjVerticesCarryTheColoursDrawn)
{
    CScanPos* a = Add("a.vtp", {5, 4, true, {RgbArray()}}, "1000");
    ASSERT_NE(a, nullptr);
    CScanPos* b = Add("b.vtp", {3, 3, true, {}}, "1010"); // drawn in one solid colour
    ASSERT_NE(b, nullptr);
    std::string why;
    ASSERT_EQ(WriteScene(doc, dir.File("scene.obj"), SceneFormat::Obj, nullptr, &why), ExportResult::Ok) << why;
    vtkDataArray* rgb = a->GetPolyData()->GetPointData()->GetArray("RGB");
    ASSERT_NE(rgb, nullptr);
    std::istringstream obj(ReadText(dir.File("scene.obj")));
    std::vector<std::vector<double>> vertices;
    for (std::string line; std::getline(obj, line);)
        if (line.rfind("v ", 0) == 0) {
            std::istringstream fields(line.substr(2));
            std::vector<double> v;
            for (double x; fields >> x;)
                v.push_back(x);
            vertices.push_back(v);
        }
    ASSERT_EQ(vertices.size(), 29u);
    for (size_t i = 0; i < 20; ++i) {
        ASSERT_EQ(vertices[i].size(), 6u) << "vertex " << i;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(std::lround(vertices[i][3 + c] * 255), std::lround(rgb->GetComponent(i, c))) << i << ' ' << c;
    }
    for (size_t i = 20; i < 29; ++i)
        EXPECT_EQ(vertices[i].size(), 3u) << "the solid model's vertex " << i << " has no colour of its own";

    // Our own reader takes them back as the model's colours (it keeps
    // colours only when every vertex has them: the coloured model alone).
    b->SetVisibility(false);
    ASSERT_EQ(WriteScene(doc, dir.File("one.obj"), SceneFormat::Obj, nullptr, &why), ExportResult::Ok) << why;
    CRendererView backView; // outlives the document shown in it
    CQuarlonDoc back;
    back.SetView(&backView);
    CScanPos* read = back.AddModel(dir.File("one.obj"));
    ASSERT_NE(read, nullptr);
    vtkDataArray* readRgb = read->GetPolyData()->GetPointData()->GetArray("RGB");
    ASSERT_NE(readRgb, nullptr);
    ASSERT_EQ(readRgb->GetNumberOfTuples(), 20);
    for (vtkIdType i = 0; i < 20; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(readRgb->GetComponent(i, c), std::trunc(rgb->GetComponent(i, c))) << i << ' ' << c;
}

TEST(MergeExportReaders, ExportsAreTheSameWhicheverReaderReadTheModel)
{
    TempDir dir;
    // A cloud as the import writes it, beside the textured sample mesh.
    std::string cloud;
    for (int i = 0; i < 20000; ++i)
        cloud += std::to_string(612000 + i * 0.017) + " " + std::to_string(5100000 + (i % 300) * 0.23) + " " +
                 std::to_string((i % 97) * 0.5) + " " + std::to_string(i % 4000) + " " + std::to_string(i % 256) +
                 " 40 " + std::to_string(255 - i % 256) + "\n";
    WriteText(dir.File("cloud.xyz"), cloud);
    const CliRun r = RunCli(dir, "import " + Q(dir.File("cloud.xyz")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sample = std::string(QUARLON_SAMPLE_DIR) + "/sampleModel.vtp";
    auto exportAll = [&](const std::string& folder) {
        std::filesystem::create_directory(folder);
        for (const std::string& model : {dir.File("cloud.vtp"), sample}) {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            ASSERT_TRUE(doc.OnOpenDocument(model));
            const std::string base = folder + "/" + qpath::Split(model).base;
            std::string why;
            EXPECT_EQ(WriteXyzRgbListing(doc, base + ".txt", nullptr, &why), ExportResult::Ok) << why;
            EXPECT_EQ(WriteMergedPly(doc, base + ".ply", true, nullptr, &why), ExportResult::Ok) << why;
            EXPECT_EQ(WriteScene(doc, base + ".obj", SceneFormat::Obj, nullptr, &why), ExportResult::Ok) << why;
            EXPECT_EQ(WriteScene(doc, base + ".wrl", SceneFormat::Vrml, nullptr, &why), ExportResult::Ok) << why;
        }
    };
    exportAll(dir.File("parallel"));
    vtkModelFileReader::SetParallelForNewReaders(false);
    exportAll(dir.File("vtk"));
    vtkModelFileReader::SetParallelForNewReaders(true);
    const std::vector<std::string> files = Names(dir.File("vtk"));
    EXPECT_GE(files.size(), 2u * 5u) << "listing, PLY, OBJ and its material (and texture), VRML of each";
    EXPECT_EQ(Names(dir.File("parallel")), files);
    for (const std::string& name : files)
        EXPECT_TRUE(ReadText(dir.File("parallel/" + name)) == ReadText(dir.File("vtk/" + name))) << name;
}

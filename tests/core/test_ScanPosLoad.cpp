#include "Fixtures.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/common/vtkListener.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkLODProp3D.h>
#include <vtkLookupTable.h>
#include <vtkMaskPoints.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkTexture.h>
#include <vtkXMLPPolyDataWriter.h>
#include <vtkXMLPolyDataReader.h>

#include <sys/stat.h>

namespace {

struct ScanPosLoad : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    ScanPosLoad() { doc.SetView(&view); }

    CScanPos* Add(const std::string& name, const ModelShape& shape)
    {
        WriteModel(dir.File(name), shape);
        return doc.AddModel(dir.File(name));
    }
    static std::array<double, 3> Offset(CScanPos* m)
    {
        std::array<double, 3> o{};
        m->GetOffset(o.data());
        return o;
    }
};

} // namespace

TEST_F(ScanPosLoad, RgbAndIntensityStartWithDirectColoursAndTheIntensityRange)
{
    CScanPos* m = Add("Site.vtp", {20, 10, true, {RgbArray(), IntensityArray("Intensity", 10, 200)}});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetPath(), qpath::ToLower(dir.File("Site.vtp")));
    EXPECT_EQ(m->GetDiskPath(), dir.File("Site.vtp"));
    EXPECT_EQ(m->GetActiveArrayName(), "RGB");
    EXPECT_EQ(m->GetColorMap(), ColorMapDirect);
    double r[2];
    m->GetScalarRange(r);
    EXPECT_DOUBLE_EQ(r[0], 10.0);
    EXPECT_DOUBLE_EQ(r[1], 200.0);
    EXPECT_EQ(m->GetRepresentation(), 0); // stored default: Points RGB, accepted
    EXPECT_TRUE(m->GetMapper(kFullLevel)->GetScalarVisibility());
    EXPECT_EQ(m->GetTexture(), nullptr);
    EXPECT_EQ(m->GetColor(), 0xFFFFFFu);
    // Both levels start as points; culling only on the full level.
    EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_POINTS);
    EXPECT_EQ(Level(m, kReducedLevel)->GetRepresentation(), VTK_POINTS);
    EXPECT_TRUE(Level(m, kFullLevel)->GetBackfaceCulling());
    EXPECT_FALSE(Level(m, kReducedLevel)->GetBackfaceCulling());
    EXPECT_TRUE(view.GetRenderer()->HasViewProp(m->GetActor()));
    EXPECT_EQ(m->GetMapper(999), nullptr);
}

TEST_F(ScanPosLoad, ReducedLevelKeepsEveryHundredthPointAsVertices)
{
    CScanPos* m = Add("m.vtp", {50, 21, true, {RgbArray()}}); // 1050 points
    ASSERT_NE(m, nullptr);
    vtkPolyData* reduced = vtkPolyData::SafeDownCast(m->GetMapper(kReducedLevel)->GetInput());
    ASSERT_NE(reduced, nullptr);
    EXPECT_EQ(reduced->GetNumberOfPoints(), 11);
    ASSERT_EQ(reduced->GetNumberOfVerts(), 1); // one poly-vertex cell holding them all
    EXPECT_EQ(reduced->GetVerts()->GetNumberOfConnectivityIds(), 11);
    EXPECT_EQ(reduced->GetNumberOfPolys(), 0);
    EXPECT_EQ(m->GetPolyData()->GetNumberOfPoints(), 1050);
}

TEST_F(ScanPosLoad, UpperCaseFileNamesLoadWithTheirCompanionFiles)
{
    WriteModel(dir.File("Site.VTP"), {4, 4, true, {RgbArray()}});
    WriteText(dir.File("Site.vtw"), "[PolyData Offset]\r\nX=500000.5\r\nY=4500000\r\nZ=100\r\n");
    WriteText(dir.File("SITE.INI"), "[CloudData]\r\nRepresentation=10\r\n");
    CScanPos* m = doc.AddModel(dir.File("Site.VTP"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(qpath::Split(m->GetPath()).extension, ".vtp");
    double o[3];
    doc.GetOffset(o);
    EXPECT_DOUBLE_EQ(o[0], 500000.5);
    EXPECT_DOUBLE_EQ(o[1], 4500000.0);
    EXPECT_DOUBLE_EQ(o[2], 100.0);
    EXPECT_EQ(m->GetRepresentation(), 10);
    EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_SURFACE);
    // Loading again through the lower-cased identity finds the same files.
    CRendererView otherView; // the view outlives its document
    CQuarlonDoc other;
    other.SetView(&otherView);
    ASSERT_NE(other.AddModel(m->GetPath()), nullptr);
}

TEST_F(ScanPosLoad, FirstModelFixesTheDocumentOffsetLaterOnesArePlacedRelativeToIt)
{
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=1000\nY=2000\nZ=0\n");
    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=1010\nY=2000\nZ=0\n");
    CScanPos* a = Add("a.vtp", {3, 3, true, {}});
    CScanPos* b = Add("b.vtp", {3, 3, true, {}});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Offset(a), (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(Offset(b), (std::array<double, 3>{10, 0, 0}));
    double pos[3], origin[3];
    b->GetActor()->GetPosition(pos);
    b->GetActor()->GetOrigin(origin);
    EXPECT_DOUBLE_EQ(pos[0], 10.0);
    EXPECT_DOUBLE_EQ(origin[0], 10.0);
    // A data point p is drawn at p + offset with Z scale 1.
    double p[4] = {2, 1, 0, 1};
    b->GetActor()->GetMatrix()->MultiplyPoint(p, p);
    EXPECT_DOUBLE_EQ(p[0], 12.0);
    EXPECT_DOUBLE_EQ(p[1], 1.0);

    // Removing every model keeps the offset; the next first model fixes it anew.
    doc.RemoveAllModels();
    double o[3];
    doc.GetOffset(o);
    EXPECT_DOUBLE_EQ(o[0], 1000.0);
}

TEST_F(ScanPosLoad, UnparsableOffsetValuesCountAsZero)
{
    WriteText(dir.File("a.vtw"),
              "[PolyData Offset]\nX=1.2.3\nY=12abc\nZ= 7.5 \n");
    CScanPos* a = Add("a.vtp", {3, 3, true, {}});
    ASSERT_NE(a, nullptr);
    double o[3];
    doc.GetOffset(o);
    EXPECT_EQ(o[0], 0.0);
    EXPECT_EQ(o[1], 0.0);
    EXPECT_EQ(o[2], 7.5);

    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=1e300\nY=" + std::string(200, '9') + "\nZ=-\n");
    CScanPos* b = Add("b.vtp", {3, 3, true, {}});
    ASSERT_NE(b, nullptr);
    // Values are read up to 63 characters; the rest of the line is ignored.
    EXPECT_DOUBLE_EQ(Offset(b)[1], std::stod(std::string(63, '9')));
    EXPECT_EQ(Offset(b)[0], 0.0);
}

TEST_F(ScanPosLoad, InitialColouringFollowsTheArrayRoles)
{
    struct Case {
        const char* name;
        std::vector<ArrayShape> arrays;
        std::string active;
        int map;
    };
    const std::vector<Case> cases = {
        {"gray.vtp", {{"GRAY", 1, ArrayShape::UChar, nullptr}}, "GRAY", ColorMapDirect},
        {"i8.vtp", {IntensityArray("intensity_8")}, "intensity_8", ColorMapGrayScale},
        {"i16.vtp", {IntensityArray("Intensity_16")}, "Intensity_16", ColorMapGrayScale},
        {"both.vtp", {IntensityArray("intensity_16"), IntensityArray("INTENSITY")}, "INTENSITY", ColorMapGrayScale},
        {"scanpos.vtp", {IntensityArray("ScanPos")}, "", ColorMapDirect},
        {"other.vtp", {IntensityArray("Albedo")}, "", ColorMapDirect},
        // The last array of a role wins.
        {"tworgb.vtp", {RgbArray("rgb"), RgbArray("RGB")}, "RGB", ColorMapDirect},
    };
    for (const Case& c : cases) {
        CScanPos* m = Add(c.name, {5, 5, true, c.arrays});
        ASSERT_NE(m, nullptr) << c.name;
        EXPECT_EQ(m->GetActiveArrayName(), c.active) << c.name;
        EXPECT_EQ(m->GetColorMap(), c.map) << c.name;
        EXPECT_EQ(m->GetMapper(kFullLevel)->GetScalarVisibility() != 0, !c.active.empty()) << c.name;
    }
}

TEST_F(ScanPosLoad, ConstantIntensityFallsBackToSolidColourOrTexture)
{
    CScanPos* m = Add("flat.vtp", {5, 5, true, {ConstantArray("Intensity", 3.0)}});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetActiveArrayName(), "");
    double r[2];
    m->GetScalarRange(r);
    EXPECT_EQ(r[0], 0.0);
    EXPECT_EQ(r[1], 1.0);

    // scanpos only supplies the range (kept through the RGB colouring).
    CScanPos* s = Add("sp.vtp", {20, 10, true, {IntensityArray("scanpos", 2, 9), RgbArray()}});
    ASSERT_NE(s, nullptr);
    s->GetScalarRange(r);
    EXPECT_EQ(r[0], 2.0);
    EXPECT_EQ(r[1], 9.0);

    WriteImage(dir.File("flattex.jpg"));
    WriteText(dir.File("flattex.tex"), "[Texture]\nFile=flattex.jpg\n");
    CScanPos* t = Add("flattex.vtp", {5, 5, true, {ConstantArray("Intensity", 3.0), TextureArray()}});
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetActiveArrayName(), "Texture");
    ASSERT_NE(t->GetTexture(), nullptr);
    // Index 0 is refused (no RGB), so the initial texture colouring stays.
    EXPECT_EQ(LevelTexture(t, kFullLevel), t->GetTexture());
    EXPECT_EQ(t->GetRepresentation(), 0);
}

TEST_F(ScanPosLoad, TextureFromASubFolderNamedWithABackslash)
{
    ::mkdir(dir.File("Tex").c_str(), 0755);
    WriteImage(dir.File("Tex/Photo.JPG"));
    WriteText(dir.File("m.tex"), "[Texture]\r\nFile=tex\\photo.jpg\r\n[SourceROI]\r\nX=1\r\n");
    CScanPos* m = Add("m.vtp", {5, 5, true, {TextureArray()}});
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->GetTexture(), nullptr);
    EXPECT_EQ(m->GetActiveArrayName(), "Texture");
    EXPECT_EQ(LevelTexture(m, kFullLevel), m->GetTexture());
    EXPECT_EQ(LevelTexture(m, kReducedLevel), m->GetTexture());
    EXPECT_FALSE(m->GetMapper(kFullLevel)->GetScalarVisibility());
    EXPECT_STREQ(m->GetPolyData()->GetPointData()->GetTCoords()->GetName(), "Texture");
}

TEST_F(ScanPosLoad, QuotedCompanionValuesAsHandEditedForTheOriginalPlatform)
{
    WriteImage(dir.File("site image.jpg"));
    WriteText(dir.File("m.tex"), "[Texture]\r\nFile=\"site image.jpg\"\r\n");
    WriteText(dir.File("m.vtw"), "[PolyData Offset]\r\nX='1000.5'\r\nY=\"2000\"\r\nZ=3\r\n");
    CScanPos* m = Add("m.vtp", {5, 5, true, {TextureArray()}});
    ASSERT_NE(m, nullptr);
    EXPECT_NE(m->GetTexture(), nullptr);
    std::array<double, 3> offset{};
    doc.GetOffset(offset.data());
    EXPECT_EQ(offset, (std::array<double, 3>{1000.5, 2000, 3}));
}

TEST_F(ScanPosLoad, UnusableTexturesLeaveTheModelUntextured)
{
    WriteImage(dir.File("img.jpeg"));
    const std::vector<std::pair<std::string, std::string>> descriptors = {
        {"fourletter", "[Texture]\nFile=img.jpeg\n"},
        {"missing", "[Texture]\nFile=nothere.jpg\n"},
        {"empty", "[Texture]\nFile=\n"},
        {"garbage", std::string("\x01\x02[Tex\xff\n=", 8)},
    };
    for (const auto& d : descriptors) {
        WriteText(dir.File(d.first + ".tex"), d.second);
        CScanPos* m = Add(d.first + ".vtp", {5, 5, true, {TextureArray(), RgbArray()}});
        ASSERT_NE(m, nullptr) << d.first;
        EXPECT_EQ(m->GetTexture(), nullptr) << d.first;
        EXPECT_FALSE(m->SetRepresentation(15)) << d.first;
    }
    // A file that is not an image, under an image name.
    WriteText(dir.File("notimage.png"), "this is not a png");
    WriteText(dir.File("bad.tex"), "[Texture]\nFile=notimage.png\n");
    CScanPos* m = Add("bad.vtp", {5, 5, true, {TextureArray()}});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetTexture(), nullptr);
}

TEST_F(ScanPosLoad, StoredRepresentationIsAppliedAndWrittenBackOnDestroy)
{
    WriteModel(dir.File("m.vtp"), {5, 5, true, {RgbArray(), IntensityArray()}});
    WriteText(dir.File("m.ini"), "[CloudData]\r\nRepresentation=12\r\nKeep=this\r\n");
    CScanPos* m = doc.AddModel(dir.File("m.vtp"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetRepresentation(), 12);
    EXPECT_EQ(m->GetColorMap(), ColorMapRedBlue);
    EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_SURFACE);
    ASSERT_TRUE(m->SetRepresentation(7));
    ASSERT_TRUE(doc.RemoveModel(m));
    EXPECT_EQ(ReadText(dir.File("m.ini")), "[CloudData]\r\nRepresentation=7\r\nKeep=this\r\n");

    // Garbage falls back to index 0.
    WriteText(dir.File("m.ini"), "[CloudData]\nRepresentation=ten\n");
    m = doc.AddModel(dir.File("m.vtp"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetRepresentation(), 0);
}

TEST_F(ScanPosLoad, NoSettingsFileIsWrittenForFailedLoadsOrReadOnlyDocuments)
{
    WriteText(dir.File("m.ini"), "[CloudData]\nRepresentation=10\n");
    WriteText(dir.File("m.vtp"), "<VTKFile type=\"PolyData\"");
    EXPECT_EQ(doc.AddModel(dir.File("m.vtp")), nullptr);
    EXPECT_EQ(ReadText(dir.File("m.ini")), "[CloudData]\nRepresentation=10\n");

    WriteModel(dir.File("r.vtp"), {3, 3, true, {RgbArray()}});
    CRendererView v;
    CQuarlonDoc readOnly;
    readOnly.SetView(&v);
    readOnly.SetSettingsReadOnly(true);
    ASSERT_NE(readOnly.AddModel(dir.File("r.vtp")), nullptr);
    readOnly.RemoveAllModels();
    EXPECT_FALSE(FileExists(dir.File("r.ini")));
}

TEST_F(ScanPosLoad, AbortAtAnyStageFailsTheLoadAndLeavesNothing)
{
    WriteImage(dir.File("img.png"));
    WriteText(dir.File("m.tex"), "[Texture]\nFile=img.png\n");
    WriteText(dir.File("m.ini"), "[CloudData]\nRepresentation=15\n");
    WriteModel(dir.File("m.vtp"), {30, 30, true, {TextureArray(), RgbArray()}});

    std::vector<std::string> stages;
    doc.SetProgressFactory([&] { return std::make_unique<AbortAtStage>("never", &stages); });
    CScanPos* m = doc.AddModel(dir.File("m.vtp"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(stages, (std::vector<std::string>{"Reading Data...", "Generating LODs..", "Reading Texture Image..",
                                                "Preparing Texture.."}));
    doc.RemoveAllModels();

    for (const std::string& stage : std::vector<std::string>(stages)) {
        std::vector<std::string> seen;
        doc.SetProgressFactory([&] { return std::make_unique<AbortAtStage>(stage, &seen); });
        EXPECT_EQ(doc.AddModel(dir.File("m.vtp")), nullptr) << stage;
        EXPECT_EQ(seen.back(), stage) << "the load must stop after the aborted stage";
        EXPECT_EQ(doc.GetModelCount(), 0);
        EXPECT_EQ(view.GetRenderer()->GetViewProps()->GetNumberOfItems(), 0);
        ASSERT_FALSE(doc.GetLoadFailures().empty());
        EXPECT_EQ(doc.GetLoadFailures().back().second, "aborted");
    }
    // The stored representation survived every aborted load.
    EXPECT_EQ(profile::GetString(dir.File("m.ini"), "CloudData", "Representation", "", 256), "15");
}

TEST_F(ScanPosLoad, OtherModelKindsLoad)
{
    CScanPos* legacy = Add("legacy.VTK", {6, 4, true, {RgbArray(), IntensityArray()}, true});
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->GetPolyData()->GetNumberOfPoints(), 24);
    EXPECT_EQ(legacy->GetActiveArrayName(), "RGB");

    // A parallel piece list with one piece.
    WriteModel(dir.File("piece.vtp"), {6, 4, false, {IntensityArray()}});
    vtkNew<vtkXMLPolyDataReader> r;
    r->SetFileName(dir.File("piece.vtp").c_str());
    r->Update();
    vtkNew<vtkXMLPPolyDataWriter> w;
    w->SetInputConnection(r->GetOutputPort());
    w->SetFileName(dir.File("par.pvtp").c_str());
    w->SetNumberOfPieces(1);
    w->SetStartPiece(0);
    w->SetEndPiece(0);
    ASSERT_EQ(w->Write(), 1);
    CScanPos* par = doc.AddModel(dir.File("par.pvtp"));
    ASSERT_NE(par, nullptr);
    EXPECT_EQ(par->GetPolyData()->GetNumberOfPoints(), 24);
    EXPECT_EQ(par->GetColorMap(), ColorMapGrayScale);
}

TEST_F(ScanPosLoad, ZScaleScalesAboutTheModelOffset)
{
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=0\nY=0\nZ=0\n");
    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=0\nY=0\nZ=10\n");
    Add("a.vtp", {3, 3, true, {}});
    CScanPos* b = Add("b.vtp", {3, 3, true, {}});
    ASSERT_NE(b, nullptr);
    const int before = view.GetInvalidations();
    b->SetZScale(2.0);
    EXPECT_EQ(view.GetInvalidations(), before + 1);
    double scale[3];
    b->GetActor()->GetScale(scale);
    EXPECT_EQ(scale[2], 2.0);
    // Data z is drawn at 2*(z - 10) + 20 = 2z.
    double p[4] = {1, 1, 0.2, 1};
    b->GetActor()->GetMatrix()->MultiplyPoint(p, p);
    EXPECT_NEAR(p[2], 0.4, 1e-12);
    b->SetZScale(2.0); // unchanged: no redraw
    EXPECT_EQ(view.GetInvalidations(), before + 1);
    b->SetVisibility(false);
    EXPECT_FALSE(b->GetActor()->GetVisibility());
}

TEST(vtkListener, ReportsTruncatedPercentAndSwitchesTheAlgorithmsAbortFlag)
{
    EXPECT_EQ(ProgressPercent(0.999), 99);
    EXPECT_EQ(ProgressPercent(1.0), 100);
    EXPECT_EQ(ProgressPercent(-0.5), 0);

    CSilentProgress sink;
    vtkNew<vtkListener> listener;
    listener->SetSink(&sink);
    vtkNew<vtkMaskPoints> algorithm;
    listener->SetCurrentAlgorithm(algorithm);
    double progress = 0.37;
    listener->Execute(algorithm, vtkCommand::ModifiedEvent, &progress);
    EXPECT_EQ(sink.GetFraction(), 0.0) << "only progress events count";
    listener->Execute(algorithm, vtkCommand::ProgressEvent, &progress);
    EXPECT_EQ(ProgressPercent(sink.GetFraction()), 37);
    EXPECT_FALSE(algorithm->GetAbortExecute());
    sink.Abort();
    listener->Execute(algorithm, vtkCommand::ProgressEvent, &progress);
    EXPECT_TRUE(algorithm->GetAbortExecute());
}

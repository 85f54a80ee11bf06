#include "Fixtures.h"
#include "core/common/Paths.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <vtkLODProp3D.h>
#include <vtkProperty.h>
#include <vtkPropCollection.h>
#include <vtkRenderer.h>

#include <set>

namespace {

struct Document : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    Document() { doc.SetView(&view); }

    std::set<std::string> Paths() const
    {
        std::set<std::string> out;
        CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
        while (pos)
            out.insert(doc.GetNextModel(pos)->GetPath());
        return out;
    }
    std::string Key(const std::string& name) const { return qpath::ToLower(dir.File(name)); }
    int PropsInView() { return view.GetRenderer()->GetViewProps()->GetNumberOfItems(); }
};

} // namespace

TEST_F(Document, ProjectWithAnEmptyLineLoadsBothModels)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {RgbArray()}});
    ::mkdir(dir.File("sub").c_str(), 0755);
    WriteModel(dir.File("sub/B.vtp"), {3, 3, true, {RgbArray()}});
    WriteText(dir.File("site.MVTP"), "3\r\na.vtp\r\n\r\nsub\\B.vtp\r\n");
    ASSERT_TRUE(doc.OnOpenDocument(dir.File("site.MVTP")));
    EXPECT_EQ(Paths(), (std::set<std::string>{Key("a.vtp"), Key("sub/b.vtp")}));
    EXPECT_EQ(doc.GetPathName(), dir.File("site.MVTP"));
    EXPECT_EQ(PropsInView(), 2);
    EXPECT_EQ(view.GetListRefreshes(), 2);
}

TEST_F(Document, ProjectEdgeCases)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    // Not a number: an empty document that still opens, with the reason.
    WriteText(dir.File("nan.mvtp"), "two\na.vtp\n");
    ASSERT_TRUE(doc.OnOpenDocument(dir.File("nan.mvtp")));
    EXPECT_EQ(doc.GetModelCount(), 0);
    ASSERT_EQ(doc.GetLoadFailures().size(), 1u);
    EXPECT_NE(doc.GetLoadFailures()[0].second.find("not a count"), std::string::npos);

    // Listed twice (once in another case): held once, noted once, no failure.
    CQuarlonDoc twice;
    twice.SetView(&view);
    WriteText(dir.File("twice.mvtp"), "3\na.vtp\nA.VTP\nsub/../a.vtp\n");
    ::mkdir(dir.File("sub").c_str(), 0755);
    ASSERT_TRUE(twice.OnOpenDocument(dir.File("twice.mvtp")));
    EXPECT_EQ(twice.GetModelCount(), 1);
    EXPECT_TRUE(twice.GetLoadFailures().empty());
    ASSERT_EQ(twice.GetLoadNotes().size(), 1u);
    EXPECT_NE(twice.GetLoadNotes()[0].second.find("2 entries name a model listed before"), std::string::npos);
    twice.RemoveAllModels();

    // Entries that fail are skipped; the rest load.
    CQuarlonDoc mixed;
    mixed.SetView(&view);
    WriteText(dir.File("bad.vtp"), "garbage");
    WriteText(dir.File("mixed.mvtp"), "4\nmissing.vtp\nbad.vtp\nnan.mvtp\na.vtp");
    ASSERT_TRUE(mixed.OnOpenDocument(dir.File("mixed.mvtp")));
    EXPECT_EQ(mixed.GetModelCount(), 1);
    EXPECT_EQ(mixed.GetLoadFailures().size(), 3u);
    mixed.RemoveAllModels();
}

TEST_F(Document, SingleModelOpenFailsForOtherExtensionsAndMissingFiles)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    ::rename(dir.File("a.vtp").c_str(), dir.File("a.obj").c_str());
    EXPECT_FALSE(doc.OnOpenDocument(dir.File("a.obj")));
    EXPECT_FALSE(doc.OnOpenDocument(dir.File("missing.vtp")));
    EXPECT_FALSE(doc.OnOpenDocument(dir.Path()));
    EXPECT_EQ(doc.GetModelCount(), 0);
    EXPECT_EQ(PropsInView(), 0);
    EXPECT_TRUE(doc.GetPathName().empty());
}

TEST_F(Document, AddAndRemoveModels)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    WriteModel(dir.File("b.vtp"), {3, 3, true, {}});
    CScanPos* a = doc.AddModel(dir.File("a.vtp"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(doc.AddModel(dir.File("A.vtp")), nullptr) << "same identity";
    EXPECT_EQ(doc.FindModel(dir.File("A.VTP")), a);

    // A model of another document is not removed, and nothing changes.
    CRendererView otherView;
    CQuarlonDoc other;
    other.SetView(&otherView);
    CScanPos* foreign = other.AddModel(dir.File("a.vtp"));
    ASSERT_NE(foreign, nullptr);
    EXPECT_FALSE(doc.RemoveModel(foreign));
    EXPECT_FALSE(doc.RemoveModel(nullptr));
    EXPECT_EQ(doc.GetModelCount(), 1);
    EXPECT_EQ(PropsInView(), 1);

    CScanPos* b = doc.AddModel(dir.File("b.vtp"));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(doc.RemoveModel(a));
    EXPECT_EQ(Paths(), std::set<std::string>{Key("b.vtp")});
    EXPECT_EQ(PropsInView(), 1);
    EXPECT_TRUE(FileExists(dir.File("a.ini"))) << "a removed model stores its representation";
    doc.OnCloseDocument();
    EXPECT_EQ(doc.GetModelCount(), 0);
    EXPECT_EQ(PropsInView(), 0);
}

TEST_F(Document, WithoutAViewNoModelIsKept)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    CQuarlonDoc bare;
    EXPECT_EQ(bare.AddModel(dir.File("a.vtp")), nullptr);
    EXPECT_EQ(bare.GetModelCount(), 0);
    EXPECT_FALSE(bare.AddPropToView(nullptr));
    EXPECT_FALSE(doc.AddPropToView(nullptr));
    EXPECT_FALSE(doc.RemovePropFromView(nullptr));
}

TEST_F(Document, CullingAndRepresentationForAllModels)
{
    WriteModel(dir.File("rgb.vtp"), {3, 3, true, {RgbArray()}});
    WriteModel(dir.File("plain.vtp"), {3, 3, true, {}});
    CScanPos* rgb = doc.AddModel(dir.File("rgb.vtp"));
    CScanPos* plain = doc.AddModel(dir.File("plain.vtp"));
    ASSERT_TRUE(rgb && plain);

    const int before = view.GetInvalidations();
    doc.SetBackfaceCulling(0);
    EXPECT_EQ(doc.GetBackfaceCulling(), 0);
    EXPECT_EQ(view.GetInvalidations(), before + 1);
    for (CScanPos* m : {rgb, plain}) {
        vtkProperty* p = nullptr;
        m->GetActor()->GetLODProperty(kFullLevel, &p);
        EXPECT_FALSE(p->GetBackfaceCulling());
    }

    // One model refuses "Surface RGB": the result is false, the other switches.
    EXPECT_FALSE(doc.SetRepresentationAll(10));
    vtkProperty* p = nullptr;
    rgb->GetActor()->GetLODProperty(kFullLevel, &p);
    EXPECT_EQ(p->GetRepresentation(), VTK_SURFACE);
    plain->GetActor()->GetLODProperty(kFullLevel, &p);
    EXPECT_EQ(p->GetRepresentation(), VTK_POINTS);
    EXPECT_TRUE(doc.SetRepresentationAll(9));

    CQuarlonDoc empty;
    EXPECT_TRUE(empty.SetRepresentationAll(3));
}

#include "core/model/SceneBounds.h"

TEST_F(Document, SceneBoundsPlaceEachModelAtItsOffset)
{
    WriteModel(dir.File("a.vtp"), {11, 6, true, {}});
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=1000\nY=2000\nZ=0\n");
    WriteModel(dir.File("b.vtp"), {11, 6, true, {}});
    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=1070\nY=2000\nZ=5\n");
    ASSERT_NE(doc.AddModel(dir.File("a.vtp")), nullptr);
    CScanPos* b = doc.AddModel(dir.File("b.vtp"));
    ASSERT_NE(b, nullptr);
    double bounds[6];
    ASSERT_TRUE(ComputeSceneBounds(view.GetRenderer(), bounds));
    EXPECT_DOUBLE_EQ(bounds[0], 0.0);
    EXPECT_DOUBLE_EQ(bounds[1], 80.0);
    EXPECT_DOUBLE_EQ(bounds[2], 0.0);
    EXPECT_DOUBLE_EQ(bounds[3], 5.0);
    EXPECT_NEAR(bounds[5], 5.2, 1e-6);
    // Hidden models do not count; nothing visible gives no bounds.
    b->SetVisibility(false);
    ASSERT_TRUE(ComputeSceneBounds(view.GetRenderer(), bounds));
    EXPECT_DOUBLE_EQ(bounds[1], 10.0);
    doc.RemoveAllModels();
    EXPECT_FALSE(ComputeSceneBounds(view.GetRenderer(), bounds));
}

TEST_F(Document, RemovalListenersHearOfEveryModelThatLeaves)
{
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    WriteModel(dir.File("B.vtp"), {3, 3, true, {}});
    ASSERT_NE(doc.AddModel(dir.File("a.vtp")), nullptr);
    ASSERT_NE(doc.AddModel(dir.File("B.vtp")), nullptr);
    std::vector<std::string> heard, other;
    const int id = doc.AddRemovalListener([&](const std::string& path) {
        heard.push_back(path);
        // Told after the model has left: the document no longer holds it.
        EXPECT_EQ(doc.FindModel(path), nullptr);
    });
    const int second = doc.AddRemovalListener([&](const std::string& path) { other.push_back(path); });
    ASSERT_TRUE(doc.RemoveModel(doc.FindModel(dir.File("a.vtp"))));
    EXPECT_EQ(heard, (std::vector<std::string>{Key("a.vtp")}));
    doc.RemoveRemovalListener(second);
    doc.RemoveAllModels();
    EXPECT_EQ(heard, (std::vector<std::string>{Key("a.vtp"), Key("b.vtp")}));
    EXPECT_EQ(other, (std::vector<std::string>{Key("a.vtp")}));
    doc.RemoveRemovalListener(id);
}

// The document window's commands, its models list and Z exaggeration,
// driven through the real frame and view.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuarlonApp.h"
#include "gui/common/Commands.h"
#include "core/common/AppSettings.h"
#include "gui/exchange/CModelListDlg.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/view/CInputValueDlg.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <vtkCamera.h>
#include <vtkLODProp3D.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <cmath>

namespace {

struct FrameTest : AppTest {
    CQuarlonFrame* frame = nullptr;

    CQuarlonFrame* Open(const QString& path)
    {
        frame = app.OpenDocumentFile(path);
        Settle();
        return frame;
    }
    void Run(int id) { app.MainFrame()->Action(id)->trigger(); }
    bool Checked(int id) { return app.MainFrame()->Action(id)->isChecked(); }
    vtkCamera* Camera() { return frame->GetView()->GetRenderer()->GetActiveCamera(); }
    CScanPos* ModelAt(int row) { return frame->GetModelListDlg()->GetModelAt(row); }
    std::vector<CScanPos*> Models()
    {
        std::vector<CScanPos*> out;
        CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
        while (pos)
            out.push_back(frame->GetFrameDocument()->GetNextModel(pos));
        return out;
    }
    QPoint BulbCentre(int row)
    {
        CModelListCtrl* list = frame->GetModelListDlg()->List();
        return list->visualRect(list->model()->index(row, 0)).center();
    }
};

// Runs `answer` on the modal dialog that `trigger` opens.
template <class Dialog, class F>
void AnswerModal(F answer, bool* seen)
{
    QTimer::singleShot(0, [answer, seen] {
        if (auto* dlg = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            *seen = true;
            answer(dlg);
        }
    });
}

} // namespace

TEST_F(FrameTest, PresetViewsGiveTheTabledDirectionsAndViewUps)
{
    ASSERT_NE(Open(Model("m.vtp", {20, 10, true, {RgbArray()}})), nullptr);
    struct Row {
        int id;
        double dop[3];
        double up[3]; // up on screen
    };
    const double s = 1.0 / std::sqrt(3.0);
    const Row rows[] = {
        {cmd::ViewTop, {0, 0, -1}, {0, 1, 0}},     {cmd::ViewBottom, {0, 0, 1}, {0, 1, 0}},
        {cmd::ViewLeft, {1, 0, 0}, {0, 0, 1}},     {cmd::ViewRight, {-1, 0, 0}, {0, 0, 1}},
        {cmd::ViewFront, {0, 1, 0}, {0, 0, 1}},    {cmd::ViewBack, {0, -1, 0}, {0, 0, 1}},
        {cmd::ViewNorthWest, {s, -s, -s}, {0, 0, 1}}, {cmd::ViewNorthEast, {-s, -s, -s}, {0, 0, 1}},
        {cmd::ViewSouthWest, {s, s, -s}, {0, 0, 1}},  {cmd::ViewSouthEast, {-s, s, -s}, {0, 0, 1}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        Camera()->Azimuth(33); // start from somewhere else each time
        Run(r.id);
        double dop[3], up[3], focal[3];
        Camera()->GetDirectionOfProjection(dop);
        Camera()->OrthogonalizeViewUp();
        Camera()->GetViewUp(up);
        Camera()->GetFocalPoint(focal);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(dop[i], r.dop[i], 1e-6) << "direction " << i;
        // The screen's up is the tabled axis, tilted only for the oblique views.
        const double along = up[0] * r.up[0] + up[1] * r.up[1] + up[2] * r.up[2];
        EXPECT_GT(along, r.id >= cmd::ViewNorthWest ? 0.8 : 1 - 1e-6);
        EXPECT_NEAR(focal[0], 9.5, 1e-6) << "centred on the model";
        EXPECT_NEAR(focal[1], 4.5, 1e-6);
    }
}

TEST_F(FrameTest, StereoCommandsSwitchOnChangeTypeAndOff)
{
    ASSERT_NE(Open(Model("m.vtp", {5, 5, true, {}})), nullptr);
    vtkRenderWindow* w = frame->GetView()->GetRenderWindow();
    Run(cmd::StereoAnaglyph);
    EXPECT_TRUE(w->GetStereoRender());
    EXPECT_EQ(w->GetStereoType(), VTK_STEREO_ANAGLYPH);
    EXPECT_TRUE(Checked(cmd::StereoAnaglyph));
    Run(cmd::StereoAnaglyph);
    EXPECT_FALSE(w->GetStereoRender());
    EXPECT_FALSE(Checked(cmd::StereoAnaglyph));

    Run(cmd::StereoAnaglyph);
    Run(cmd::StereoRedBlue);
    EXPECT_TRUE(w->GetStereoRender());
    EXPECT_EQ(w->GetStereoType(), VTK_STEREO_RED_BLUE);
    EXPECT_TRUE(Checked(cmd::StereoRedBlue));
    EXPECT_FALSE(Checked(cmd::StereoAnaglyph));
    Run(cmd::StereoAnaglyph);
    EXPECT_TRUE(w->GetStereoRender());
    EXPECT_EQ(w->GetStereoType(), VTK_STEREO_ANAGLYPH);
    Run(cmd::StereoAnaglyph);
    EXPECT_FALSE(w->GetStereoRender());
}

TEST_F(FrameTest, PerspectiveCullingAndBackground)
{
    ASSERT_NE(Open(Model("m.vtp", {5, 5, true, {}})), nullptr);
    EXPECT_FALSE(Checked(cmd::PerspectiveView)) << "parallel by default";
    Run(cmd::PerspectiveView);
    EXPECT_TRUE(Checked(cmd::PerspectiveView));
    EXPECT_FALSE(Camera()->GetParallelProjection());
    Run(cmd::PerspectiveView);
    EXPECT_TRUE(Camera()->GetParallelProjection());

    EXPECT_TRUE(Checked(cmd::BackfaceCulling));
    Run(cmd::BackfaceCulling);
    EXPECT_FALSE(Checked(cmd::BackfaceCulling));
    vtkProperty* p = nullptr;
    Models()[0]->GetActor()->GetLODProperty(kFullLevel, &p);
    EXPECT_FALSE(p->GetBackfaceCulling());

    chooser.colour = QColor(10, 20, 30);
    Run(cmd::BackgroundColor);
    EXPECT_EQ(frame->GetView()->GetBackgroundColor(), 0x1E140Au);
    EXPECT_EQ(appsettings::ReadSetting("Color", "Background", ""), std::to_string(0x1E140A));
    chooser.accept = false;
    chooser.colour = QColor(255, 255, 255);
    Run(cmd::BackgroundColor);
    EXPECT_EQ(frame->GetView()->GetBackgroundColor(), 0x1E140Au) << "cancel keeps the colour";
}

TEST_F(FrameTest, FastSwitchTriesEveryModelAndWarnsOnce)
{
    WriteImage(dir.File("tex.png"));
    WriteText(dir.File("textured.tex"), "[Texture]\nFile=tex.png\n");
    ASSERT_NE(Open(Model("textured.vtp", {5, 5, true, {TextureArray()}})), nullptr);
    chooser.files = QStringList{Model("plain.vtp", {5, 5, true, {RgbArray()}})};
    Run(cmd::OpenInside);
    ASSERT_EQ(Models().size(), 2u);
    Run(cmd::SurfaceTexture);
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0], "Warning! One or more errors occurred while applying new settings!\n\nPerhaps one "
                                  "or more clouds are missing the properties you set.");
    EXPECT_EQ(prompt.icons[0], IPrompt::Icon::Warning);
    for (CScanPos* m : Models()) {
        vtkProperty* p = nullptr;
        m->GetActor()->GetLODProperty(kFullLevel, &p);
        const bool textured = m->GetTexture() != nullptr;
        EXPECT_EQ(p->GetRepresentation(), textured ? VTK_SURFACE : VTK_POINTS);
    }
    Run(cmd::WireframeOneColor);
    EXPECT_EQ(prompt.messages.size(), 1) << "everyone accepts: no warning";
}

TEST_F(FrameTest, EveryFastSwitchCommandAppliesItsIndex)
{
    WriteImage(dir.File("all.png"));
    WriteText(dir.File("all.tex"), "[Texture]\nFile=all.png\n");
    ASSERT_NE(Open(Model("all.vtp", {20, 10, true, {RgbArray(), IntensityArray(), TextureArray()}})), nullptr);
    for (int index = 0; index < 18; ++index) {
        QAction* action = app.MainFrame()->Action(cmd::RepresentationCommand(index));
        ASSERT_NE(action, nullptr) << index;
        EXPECT_EQ(action->text(), RepresentationLabel(index));
        action->trigger();
        EXPECT_EQ(Models()[0]->GetRepresentation(), index);
    }
    EXPECT_TRUE(prompt.messages.isEmpty());
}

TEST_F(FrameTest, OpenInsideSkipsUpperCaseExtensionsAndShowsTheListAfterTheSecondModel)
{
    ASSERT_NE(Open(Model("first.vtp", {4, 4, true, {}})), nullptr);
    ASSERT_NE(frame->GetModelListDlg(), nullptr) << "made (hidden) when the document added its model";
    EXPECT_FALSE(frame->GetModelListDlg()->isVisible());
    WriteModel(dir.File("upper.VTP"), {4, 4, true, {}});
    chooser.files = QStringList{QString::fromStdString(dir.File("upper.VTP"))};
    Run(cmd::OpenInside);
    EXPECT_EQ(Models().size(), 1u);
    EXPECT_FALSE(frame->GetModelListDlg()->isVisible());
    chooser.files = QStringList{Model("second.vtp", {4, 4, true, {}})};
    Run(cmd::OpenInside);
    EXPECT_EQ(Models().size(), 2u);
    EXPECT_TRUE(frame->GetModelListDlg()->isVisible());
    EXPECT_TRUE(Checked(cmd::ModelsList));
    EXPECT_EQ(frame->GetModelListDlg()->List()->rowCount(), 2);
    EXPECT_EQ(app.MainFrame()->StatusCounts(), "Loaded 32 points and 36 faces. Viewing 32 points and 36 faces.");
    // Its top-right corner meets the view's.
    CQuarlonView* view = frame->GetView();
    const QPoint viewTopRight = view->mapToGlobal(QPoint(view->width(), 0));
    EXPECT_NEAR(frame->GetModelListDlg()->frameGeometry().right(), viewTopRight.x() - 1, 3);
    Run(cmd::ModelsList);
    EXPECT_FALSE(frame->GetModelListDlg()->isVisible());
    EXPECT_FALSE(Checked(cmd::ModelsList));
    // Its own "Hide Window" clears the check mark too.
    Run(cmd::ModelsList);
    EXPECT_TRUE(Checked(cmd::ModelsList));
    frame->GetModelListDlg()->findChild<QPushButton*>("hideButton")->click();
    EXPECT_FALSE(frame->GetModelListDlg()->isVisible());
    EXPECT_FALSE(Checked(cmd::ModelsList));
}

TEST_F(FrameTest, ModelsListBulbsAndRemoval)
{
    ASSERT_NE(Open(Model("a.vtp", {4, 4, true, {}})), nullptr);
    chooser.files = QStringList{Model("b.vtp", {4, 4, true, {}}), Model("c.vtp", {4, 4, true, {}})};
    Run(cmd::OpenInside);
    CModelListDlg* list = frame->GetModelListDlg();
    ASSERT_EQ(list->List()->rowCount(), 3);
    QWidget* viewport = list->List()->viewport();

    // Left click on a bulb hides that model and recounts.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, BulbCentre(1));
    EXPECT_FALSE(ModelAt(1)->IsVisible());
    EXPECT_TRUE(ModelAt(0)->IsVisible());
    EXPECT_EQ(app.MainFrame()->StatusCounts(), "Loaded 48 points and 54 faces. Viewing 32 points and 36 faces.");
    // Right click on a lit bulb hides all; on an unlit one shows all.
    QTest::mouseClick(viewport, Qt::RightButton, Qt::NoModifier, BulbCentre(0));
    for (int r = 0; r < 3; ++r)
        EXPECT_FALSE(ModelAt(r)->IsVisible());
    QTest::mouseClick(viewport, Qt::RightButton, Qt::NoModifier, BulbCentre(2));
    for (int r = 0; r < 3; ++r)
        EXPECT_TRUE(ModelAt(r)->IsVisible());
    // The bulb is drawn lit or unlit.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, BulbCentre(2));
    const QImage shot = viewport->grab().toImage();
    const QRgb lit = shot.pixel(BulbCentre(0).x(), BulbCentre(0).y() - 3);
    const QRgb unlit = shot.pixel(BulbCentre(2).x(), BulbCentre(2).y() - 3);
    EXPECT_GT(qRed(lit) + qGreen(lit) - 2 * qBlue(lit), 150) << "yellow";
    EXPECT_LT(std::abs(qRed(unlit) - qBlue(unlit)), 30) << "grey";

    // Remove: nothing selected, then two rows with Yes.
    list->List()->clearSelection();
    list->findChild<QPushButton*>("removeButton")->click();
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages.back(), "Select the model(s) to remove!");
    list->List()->selectRow(0);
    list->List()->selectionModel()->select(list->List()->model()->index(2, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    prompt.answer = false;
    list->findChild<QPushButton*>("removeButton")->click();
    EXPECT_EQ(prompt.messages.back(), "Remove selected model(s)?");
    EXPECT_EQ(Models().size(), 3u) << "No keeps them";
    prompt.answer = true;
    list->findChild<QPushButton*>("removeButton")->click();
    ASSERT_EQ(Models().size(), 1u);
    EXPECT_EQ(list->List()->rowCount(), 1);
    EXPECT_NE(Models()[0]->GetPath().find("b.vtp"), std::string::npos);
    EXPECT_EQ(app.MainFrame()->StatusCounts(), "Loaded 16 points and 18 faces. Viewing 16 points and 18 faces.");
}

TEST_F(FrameTest, RowOfTheModelNamedLikeTheDocumentIsLightBlue)
{
    // The stored model path is lower case: "Scan" and "scan" differ.
    ASSERT_NE(Open(Model("Scan.vtp", {4, 4, true, {}})), nullptr);
    chooser.files = QStringList{Model("other.vtp", {4, 4, true, {}})};
    Run(cmd::OpenInside);
    CModelListCtrl* list = frame->GetModelListDlg()->List();
    list->clearSelection();
    QImage shot = list->viewport()->grab().toImage();
    // Right of the name, inside the row.
    auto clear = [&shot](const QRect& cell) { return QPoint(std::min(cell.left() + 120, shot.width() - 3), cell.center().y()); };
    const QRect nameCell = list->visualRect(list->model()->index(0, 1));
    EXPECT_EQ(shot.pixel(clear(nameCell)), qRgb(255, 255, 255));

    frame = nullptr;
    ASSERT_NE(Open(Model("lower.vtp", {4, 4, true, {}})), nullptr);
    chooser.files = QStringList{Model("more.vtp", {4, 4, true, {}})};
    Run(cmd::OpenInside);
    list = frame->GetModelListDlg()->List();
    list->clearSelection();
    shot = list->viewport()->grab().toImage();
    const QRect first = list->visualRect(list->model()->index(0, 1));
    const QRect second = list->visualRect(list->model()->index(1, 1));
    EXPECT_EQ(shot.pixel(clear(first)), qRgb(210, 240, 250));
    EXPECT_EQ(shot.pixel(clear(second)), qRgb(255, 255, 255));
}

TEST_F(FrameTest, ZExaggerationReadsTheValueWithTheNumberCheck)
{
    ASSERT_NE(Open(Model("m.vtp", {4, 4, true, {}})), nullptr);
    CScanPos* model = Models()[0];
    bool seen = false;
    QString shown;
    AnswerModal<CInputValueDlg>([&shown](CInputValueDlg* d) {
        shown = d->Edit()->text();
        d->Edit()->setText("2,5");
        d->accept();
    }, &seen);
    Run(cmd::ZExaggeration);
    ASSERT_TRUE(seen);
    EXPECT_EQ(shown, "1.000000");
    EXPECT_EQ(model->GetZScale(), 2.0);

    for (const char* typed : {"abc", "1e3"}) {
        seen = false;
        AnswerModal<CInputValueDlg>([typed](CInputValueDlg* d) {
            d->Edit()->setText(typed);
            d->accept();
        }, &seen);
        Run(cmd::ZExaggeration);
        ASSERT_TRUE(seen);
        EXPECT_EQ(model->GetZScale(), 2.0) << typed;
    }
    seen = false;
    AnswerModal<CInputValueDlg>([](CInputValueDlg* d) {
        d->Edit()->setText("7");
        d->reject();
    }, &seen);
    Run(cmd::ZExaggeration);
    EXPECT_EQ(model->GetZScale(), 2.0) << "cancel";

    // Two models: the list must name exactly one.
    chooser.files = QStringList{Model("n.vtp", {4, 4, true, {}})};
    Run(cmd::OpenInside);
    CModelListCtrl* list = frame->GetModelListDlg()->List();
    list->selectAll();
    seen = false;
    AnswerModal<CInputValueDlg>([](CInputValueDlg* d) { d->reject(); }, &seen);
    Run(cmd::ZExaggeration);
    Settle(); // the unused answer expires
    EXPECT_FALSE(seen) << "no dialog opens";
    EXPECT_EQ(prompt.messages.back(), "Please select just one model from the \"Models List\" window!");
    list->clearSelection();
    list->selectRow(1);
    AnswerModal<CInputValueDlg>([](CInputValueDlg* d) {
        d->Edit()->setText("0.5");
        d->accept();
    }, &seen);
    Run(cmd::ZExaggeration);
    EXPECT_TRUE(seen);
    EXPECT_EQ(ModelAt(1)->GetZScale(), 0.5);
    EXPECT_EQ(ModelAt(0)->GetZScale(), 2.0);
}

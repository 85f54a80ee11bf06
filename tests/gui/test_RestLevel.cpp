// What the user sees at rest is the whole model, whatever route led there
// and however slow the last frame was: the preview level (every hundredth
// point) is only for the moments the mouse moves the camera.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorObserver.h>
#include <vtkLODProp3D.h>
#include <vtkRenderWindowInteractor.h>

namespace {

// A cloud that covers much of the view from the top at its full level and
// little at its preview level.
const ModelShape kDenseCloud{300, 300, false, {}, false, [](int, int) { return 0.0; }};

struct RestLevelTest : AppTest {
    CMainFrame* Main() { return app.MainFrame(); }

    // A machine too slow for the model: every frame over its time budget,
    // so a choice by time alone would take the preview level.
    static void MakeSlow(CQuarlonView* view)
    {
        view->interactor()->SetStillUpdateRate(5000);
        view->interactor()->SetDesiredUpdateRate(5000);
        view->GetRenderWindow()->SetDesiredUpdateRate(5000);
        view->Render(); // the levels now have render times to judge by
    }
    // Share of non-background pixels in the middle of the view's picture.
    static double Coverage(CQuarlonView* view)
    {
        const QImage img = view->grabFramebuffer();
        const QRect middle(img.width() / 4, img.height() / 4, img.width() / 2, img.height() / 2);
        const QRgb background = img.pixel(2, 2);
        long covered = 0;
        for (int y = middle.top(); y <= middle.bottom(); ++y)
            for (int x = middle.left(); x <= middle.right(); ++x)
                covered += img.pixel(x, y) != background;
        return static_cast<double>(covered) / (middle.width() * middle.height());
    }
    void ExpectFullLevel(CQuarlonFrame* frame, const char* route)
    {
        Settle(150);
        ASSERT_NE(frame, nullptr) << route;
        const double covered = Coverage(frame->GetView());
        CQuarlonDoc* doc = frame->GetFrameDocument();
        CQuarlonDoc::Position pos = doc->GetFirstModelPosition();
        while (CScanPos* model = doc->GetNextModel(pos))
            EXPECT_EQ(model->GetActor()->GetLastRenderedLODID(), kFullLevel) << route << ": " << model->GetPath();
        EXPECT_GT(covered, 0.10) << route << ": the cloud is drawn sparsely";
    }
};

} // namespace

TEST_F(RestLevelTest, EveryRouteIntoAStillPictureDrawsTheFullLevel)
{
    Main()->showNormal();
    const QString cloud = Model("cloud.vtp", kDenseCloud);
    CQuarlonFrame* frame = app.OpenDocumentFile(cloud);
    ASSERT_NE(frame, nullptr);
    MakeSlow(frame->GetView());
    ExpectFullLevel(frame, "opened");

    // While the camera moves, the level is chosen by time: the preview.
    CQuarlonView* view = frame->GetView();
    const QPoint c(view->width() / 2, view->height() / 2);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, c);
    QMouseEvent move(QEvent::MouseMove, c + QPoint(30, 10), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
    EXPECT_EQ(frame->GetFrameDocument()->GetNextModel(pos)->GetActor()->GetLastRenderedLODID(), kReducedLevel);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, c + QPoint(30, 10));
    ExpectFullLevel(frame, "after a drag");

    // Maximised inside a maximised main window: a new size, a new picture.
    qobject_cast<QMdiSubWindow*>(frame->parentWidget())->showMaximized();
    Main()->showMaximized();
    ExpectFullLevel(frame, "main window maximised");

    Main()->Action(cmd::WindowTile)->trigger();
    ExpectFullLevel(frame, "Window > Tile");

    // Closed and reopened from the recent-file list.
    Main()->Action(cmd::FileClose)->trigger();
    Settle();
    ASSERT_TRUE(Main()->Frames().isEmpty());
    auto* recent = Main()->findChild<QAction*>(QStringLiteral("ID_%1").arg(cmd::FileMru));
    ASSERT_NE(recent, nullptr);
    recent->trigger();
    ASSERT_EQ(Main()->Frames().size(), 1);
    frame = Main()->Frames().first();
    MakeSlow(frame->GetView());
    Main()->showNormal();
    ExpectFullLevel(frame, "reopened from the recent files, then restored");

    // A model added by Open Inside.
    chooser.files = QStringList{Model("inside.vtp", {300, 300, false, {}, false, [](int, int) { return 1.0; }, 0.5})};
    Main()->Action(cmd::OpenInside)->trigger();
    ASSERT_EQ(frame->GetFrameDocument()->GetModelCount(), 2);
    ExpectFullLevel(frame, "Open Inside");

    // Handed over by a second start.
    app.OnAnotherInstance(Model("handed.vtp", kDenseCloud));
    Settle();
    ASSERT_EQ(Main()->Frames().size(), 2);
    CQuarlonFrame* handed = Main()->ActiveFrame();
    MakeSlow(handed->GetView());
    Main()->showMaximized();
    ExpectFullLevel(handed, "hand-over, then maximised");
}

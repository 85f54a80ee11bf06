// Document windows as a user of a multiple-document program expects them:
// listed in the Window menu, one per file, their tool windows shown only
// while they are active, the main window restored as it was.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/app/HelpDialogs.h"
#include "gui/exchange/CModelListDlg.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"
#include "gui/tools/CMeasureDlg.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QApplication>
#include <QToolBar>
#include <gtest/gtest.h>

#include <vtkLODProp3D.h>
#include <vtkPolyData.h>

namespace {

struct WindowsTest : AppTest {
    CMainFrame* Main() { return app.MainFrame(); }
    QMenu* WindowMenu() { return Main()->findChild<QMenu*>(QStringLiteral("menuWindow")); }
    // The document window entries of the Window menu, as the user sees it.
    QList<QAction*> WindowEntries()
    {
        QMenu* menu = WindowMenu();
        emit menu->aboutToShow();
        QList<QAction*> entries;
        for (QAction* a : menu->actions())
            if (!a->isSeparator() && a != Main()->Action(cmd::WindowCascade) && a != Main()->Action(cmd::WindowTile))
                entries << a;
        return entries;
    }
    static QMdiSubWindow* Sub(CQuarlonFrame* f) { return qobject_cast<QMdiSubWindow*>(f->parentWidget()); }
};

} // namespace

TEST_F(WindowsTest, TheWindowMenuListsTheDocumentWindowsWithTheActiveOneChecked)
{
    Main()->show();
    CQuarlonFrame* a = app.OpenDocumentFile(Model("alpha.vtp", {4, 4, true, {}}));
    CQuarlonFrame* b = app.OpenDocumentFile(Model("beta.vtp", {4, 4, true, {}}));
    ASSERT_TRUE(a && b);
    Settle();
    QList<QAction*> entries = WindowEntries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->text(), "&1 alpha.vtp");
    EXPECT_EQ(entries[1]->text(), "&2 beta.vtp");
    EXPECT_FALSE(entries[0]->isChecked());
    EXPECT_TRUE(entries[1]->isChecked());

    entries[0]->trigger();
    Settle();
    EXPECT_EQ(Main()->ActiveFrame(), a);
    entries = WindowEntries();
    EXPECT_TRUE(entries[0]->isChecked());
    EXPECT_FALSE(entries[1]->isChecked());

    Main()->Action(cmd::FileClose)->trigger();
    Settle();
    entries = WindowEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0]->text(), "&1 beta.vtp");
}

TEST_F(WindowsTest, OneDocumentPerFileAndAReimportShowsTheNewModel)
{
    Main()->show();
    WriteText(dir.File("scan.txt"), "1 2 3\n4 5 6\n");
    chooser.files = QStringList{QString::fromStdString(dir.File("scan.txt"))};
    app.OnFileImport();
    ASSERT_EQ(Main()->Frames().size(), 1);
    // Opening the same file again shows the document that is open.
    const QString model = QString::fromStdString(dir.File("scan.vtp"));
    EXPECT_EQ(app.OpenDocumentFile(model), Main()->Frames().first());
    EXPECT_EQ(app.OpenDocumentFile(QString::fromStdString(dir.File("SCAN.VTP"))), Main()->Frames().first());
    ASSERT_EQ(Main()->Frames().size(), 1);

    // A project that holds the model among others.
    WriteModel(dir.File("other.vtp"), {4, 4, true, {}});
    WriteText(dir.File("site.mvtp"), "2\r\nscan.vtp\r\nother.vtp\r\n");
    CQuarlonFrame* project = app.OpenDocumentFile(QString::fromStdString(dir.File("site.mvtp")));
    ASSERT_NE(project, nullptr);
    ASSERT_EQ(Main()->Frames().size(), 2);

    // Imported again with three points, Yes to overwrite.
    WriteText(dir.File("scan.txt"), "1 2 3\n4 5 6\n7 8 9\n");
    prompt.answer = true;
    app.OnFileImport();
    Settle();
    int documentsOfTheFile = 0;
    for (CQuarlonFrame* f : Main()->Frames()) {
        CScanPos* m = f->GetFrameDocument()->FindModel(dir.File("scan.vtp"));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->GetPolyData()->GetNumberOfPoints(), 3) << "every document shows the new model";
        documentsOfTheFile += f->GetFrameDocument()->GetPathName() == dir.File("scan.vtp");
    }
    EXPECT_EQ(documentsOfTheFile, 1);
    EXPECT_EQ(Main()->Frames().size(), 2);
    EXPECT_EQ(project->GetFrameDocument()->GetModelCount(), 2);
    // The project's 3 + 16 points and the new document's 3, each counted once.
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 22 points and 18 faces. Viewing 3 points and 0 faces.");
}

TEST_F(WindowsTest, ToolWindowsBelongToTheirDocumentWindow)
{
    Main()->show();
    CQuarlonFrame* a = app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {}}));
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(a->OpenInsideFile(Model("a2.vtp", {4, 4, true, {}})));
    Settle(200);
    CModelListDlg* list = a->GetModelListDlg();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    // Inside the view's area, below the toolbars.
    const QRect view(a->GetView()->mapToGlobal(QPoint(0, 0)), a->GetView()->size());
    EXPECT_GE(list->frameGeometry().top(), view.top());
    EXPECT_LE(list->frameGeometry().right(), view.right() + 1);
    const QRect bars(Main()->ViewToolBar()->mapToGlobal(QPoint(0, 0)), Main()->ViewToolBar()->size());
    EXPECT_FALSE(list->frameGeometry().intersects(bars));

    CQuarlonFrame* b = app.OpenDocumentFile(Model("b.vtp", {4, 4, true, {}}));
    ASSERT_NE(b, nullptr);
    Settle();
    EXPECT_FALSE(list->isVisible()) << "hidden while another document is active";
    EXPECT_FALSE(Main()->Action(cmd::ModelsList)->isChecked());

    Main()->MdiArea()->setActiveSubWindow(Sub(a));
    Settle();
    EXPECT_TRUE(list->isVisible()) << "shown again with its document";
    EXPECT_TRUE(Main()->Action(cmd::ModelsList)->isChecked());

    // One the user hid stays hidden when its document comes back.
    Main()->Action(cmd::ModelsList)->trigger();
    EXPECT_FALSE(list->isVisible());
    Main()->MdiArea()->setActiveSubWindow(Sub(b));
    Main()->MdiArea()->setActiveSubWindow(Sub(a));
    Settle();
    EXPECT_FALSE(list->isVisible());

    // A project that opens with several models shows its list once its
    // view is on screen, placed inside it.
    WriteText(dir.File("p.mvtp"), "2\na.vtp\nb.vtp\n");
    CQuarlonFrame* p = app.OpenDocumentFile(QString::fromStdString(dir.File("p.mvtp")));
    ASSERT_NE(p, nullptr);
    if (!p->GetModelListDlg() || !p->GetModelListDlg()->isVisible())
        Main()->Action(cmd::ModelsList)->trigger();
    Settle(200);
    ASSERT_TRUE(p->GetModelListDlg() && p->GetModelListDlg()->isVisible());
    const QRect pview(p->GetView()->mapToGlobal(QPoint(0, 0)), p->GetView()->size());
    EXPECT_GE(p->GetModelListDlg()->frameGeometry().top(), pview.top());
}

TEST_F(WindowsTest, ASecondStartRestoresTheMainWindowAsItWas)
{
    Main()->showMaximized();
    Settle(100);
    ASSERT_TRUE(Main()->isMaximized());
    Main()->showMinimized();
    Settle(100);
    app.OnAnotherInstance(QString());
    Settle(100);
    EXPECT_FALSE(Main()->isMinimized());
    EXPECT_TRUE(Main()->isMaximized()) << "a maximised window comes back maximised";
    EXPECT_TRUE(Main()->isVisible());
}

TEST_F(WindowsTest, MenusAndDialogsShowWhatTheyHold)
{
    Main()->show();
    ASSERT_NE(app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {}})), nullptr);
    // Checked items of the View menu show a tick, not their toolbar icon.
    for (int id : {cmd::BackfaceCulling, cmd::PerspectiveView, cmd::ModelsList, cmd::StereoAnaglyph, cmd::StereoRedBlue}) {
        EXPECT_TRUE(Main()->Action(id)->isCheckable()) << id;
        EXPECT_FALSE(Main()->Action(id)->isIconVisibleInMenu()) << id;
    }
    EXPECT_TRUE(Main()->Action(cmd::BackfaceCulling)->isChecked());
    EXPECT_FALSE(Main()->Action(cmd::BackfaceCulling)->icon().isNull()) << "the toolbar keeps its picture";

    CTutorialDlg tutorial(QStringLiteral("/nonexistent"), Main());
    tutorial.show();
    Settle();
    EXPECT_GE(tutorial.width(), tutorial.fontMetrics().horizontalAdvance(tutorial.windowTitle()) + 100);
    tutorial.hide();

    CAboutDlg about(QStringLiteral("0.1.0.0"), Main());
    about.show();
    Settle();
    auto* vtk = about.findChild<QPushButton*>(QStringLiteral("vtkLicenseButton"));
    ASSERT_NE(vtk, nullptr);
    EXPECT_GE(vtk->width(), vtk->fontMetrics().horizontalAdvance(vtk->text()) + 3 * vtk->fontMetrics().averageCharWidth());
}

TEST_F(WindowsTest, ClosingWhileAModelLoadsWaitsForTheLoadToEnd)
{
    Main()->show();
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {}}));
    ASSERT_NE(frame, nullptr);
    const QString big = Model("big.vtp", {300, 300, true, {RgbArray()}});
    QPointer<QMdiSubWindow> sub = Sub(frame);
    // As soon as the load first lets events through: the progress window
    // takes the input, and closes asked for meanwhile wait.
    bool modal = false, sawProgress = false;
    QTimer::singleShot(0, Main(), [&] {
        sawProgress = QApplication::activeModalWidget() != nullptr;
        modal = sawProgress && QApplication::activeModalWidget()->objectName() == "CVTKListenerDlg";
        sub->close();
        Main()->close();
    });
    ASSERT_TRUE(frame->OpenInsideFile(big));
    EXPECT_TRUE(sawProgress);
    EXPECT_TRUE(modal) << "the progress window is modal for input";
    // The load finished on a whole document...
    ASSERT_FALSE(sub.isNull());
    EXPECT_EQ(frame->GetFrameDocument()->GetModelCount(), 2);
    // ...and then the closes that were asked for happened.
    Settle(100);
    EXPECT_TRUE(sub.isNull()) << "the document window closed after the load";
    EXPECT_FALSE(Main()->isVisible()) << "the main window closed after the load";
}

TEST_F(WindowsTest, TheModelsListLetsGoOfModelsTheDocumentRemoves)
{
    Main()->show();
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {}}));
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->OpenInsideFile(Model("b.vtp", {4, 4, true, {}})));
    ASSERT_TRUE(frame->OpenInsideFile(Model("c.vtp", {4, 4, true, {}})));
    CModelListDlg* list = frame->GetModelListDlg();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->List()->rowCount(), 3);

    // Removed by the document itself, as a later command may do.
    CQuarlonDoc* doc = frame->GetFrameDocument();
    ASSERT_TRUE(doc->RemoveModel(doc->FindModel(dir.File("b.vtp"))));
    ASSERT_EQ(list->List()->rowCount(), 2);
    EXPECT_EQ(list->GetModelAt(0), doc->FindModel(dir.File("a.vtp")));
    EXPECT_EQ(list->GetModelAt(1), doc->FindModel(dir.File("c.vtp")));
    // Its bulbs still work on the models that remain.
    const QRect bulb = list->List()->visualRect(list->List()->model()->index(1, 0));
    QTest::mouseClick(list->List()->viewport(), Qt::LeftButton, Qt::NoModifier, bulb.center());
    EXPECT_FALSE(doc->FindModel(dir.File("c.vtp"))->IsVisible());
    Settle();
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 32 points and 36 faces. Viewing 16 points and 18 faces.");

    // A row whose model has gone names nothing, even before a refill.
    list->FillFromDocument();
    doc->RemoveAllModels();
    EXPECT_EQ(list->List()->rowCount(), 0);
}

TEST_F(WindowsTest, CascadeAndTileLeaveEveryViewUsableWithItsWholeModel)
{
    Main()->resize(1100, 850);
    Main()->show();
    std::vector<CQuarlonFrame*> frames;
    for (const char* name : {"one.vtp", "two.vtp", "three.vtp"}) {
        frames.push_back(app.OpenDocumentFile(Model(name, {30, 20, true, {}})));
        ASSERT_NE(frames.back(), nullptr);
    }
    Settle(200);
    const QSize area = Main()->MdiArea()->viewport()->size();
    for (int command : {cmd::WindowCascade, cmd::WindowTile}) {
        Main()->Action(command)->trigger();
        Settle(200);
        for (CQuarlonFrame* f : frames) {
            const QSize view = f->GetView()->size();
            EXPECT_GE(view.height(), area.height() / 3) << "a view, not a title bar: " << command;
            EXPECT_GE(view.width(), area.width() / 3) << command;
            // The model's corners are drawn inside the view.
            CQuarlonDoc::Position pos = f->GetFrameDocument()->GetFirstModelPosition();
            double bounds[6];
            f->GetFrameDocument()->GetNextModel(pos)->GetActor()->GetBounds(bounds);
            for (int corner = 0; corner < 4; ++corner) {
                const double p[3] = {bounds[corner & 1], bounds[2 + (corner >> 1)], bounds[4]};
                const QPoint pixel = PixelOf(f->GetView(), p);
                EXPECT_TRUE(QRect(QPoint(0, 0), view).contains(pixel))
                    << "command " << command << ": corner at " << pixel.x() << "," << pixel.y();
            }
        }
    }
}

TEST_F(WindowsTest, ToolWindowsKeepOffTheModelBesideTheModelsList)
{
    Main()->resize(1200, 900);
    Main()->show();
    CQuarlonFrame* f = app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {}}));
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->OpenInsideFile(Model("b.vtp", {4, 4, true, {}})));
    Settle(200);
    ASSERT_TRUE(f->GetModelListDlg() && f->GetModelListDlg()->isVisible());
    f->OnMeasure();
    Settle(200);
    ASSERT_TRUE(f->GetMeasureDlg()->isVisible());
    const QRect view(f->GetView()->mapToGlobal(QPoint(0, 0)), f->GetView()->size());
    const QRect measure = f->GetMeasureDlg()->frameGeometry();
    EXPECT_FALSE(measure.contains(view.center())) << "the model's centre stays in sight: view " << view.x() << ","
                                                   << view.y() << " " << view.width() << "x" << view.height() << ", tool "
                                                   << measure.x() << "," << measure.y() << " " << measure.width() << "x"
                                                   << measure.height();
    EXPECT_GT(measure.left(), view.left() + view.width() / 3) << "at the right, where the models list is";
    EXPECT_FALSE(measure.intersects(f->GetModelListDlg()->frameGeometry()));
}

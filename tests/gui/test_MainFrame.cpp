// The main window: status line, opening by every route, window state,
// the help boxes, printing and the progress window.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuarlonApp.h"
#include "gui/common/Commands.h"
#include "gui/common/Prompts.h"
#include "gui/app/HelpDialogs.h"
#include "gui/controls/CVTKListenerDlg.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vtkCamera.h>
#include <vtkRenderer.h>

#include <cstdlib>

namespace {

struct MainFrameTest : AppTest {
    CMainFrame* Main() { return app.MainFrame(); }
    void Drop(const QStringList& files, const QPoint& pos)
    {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        mime->setUrls(urls);
        // As the desktop delivers a drop: enter, then the drop itself.
        QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Main(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Main(), &drop);
        delete mime;
    }
};

} // namespace

TEST_F(MainFrameTest, StatusLineCountsLoadedAndViewedPointsAndFaces)
{
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 0 points and 0 faces. Viewing 0 points and 0 faces.");
    // 1000 points and 998 triangles, then 50 points in 50 vertex cells (no faces).
    CQuarlonFrame* first = app.OpenDocumentFile(Model("a.vtp", {500, 2, true, {}}));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 1000 points and 998 faces. Viewing 1000 points and 998 faces.");
    CQuarlonFrame* second = app.OpenDocumentFile(Model("b.vtp", {50, 1, false, {}}));
    ASSERT_NE(second, nullptr);
    Main()->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(second->parentWidget()));
    CQuarlonDoc::Position pos = second->GetFrameDocument()->GetFirstModelPosition();
    second->GetFrameDocument()->GetNextModel(pos)->SetVisibility(false);
    Main()->UpdateStatusCounts();
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 1050 points and 998 faces. Viewing 0 points and 0 faces.");
    // Closing a document recounts.
    Main()->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(first->parentWidget()));
    Main()->Action(cmd::FileClose)->trigger();
    Settle();
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 50 points and 0 faces. Viewing 0 points and 0 faces.");
}

TEST_F(MainFrameTest, MenusWithAndWithoutADocumentAndRealIcons)
{
    EXPECT_FALSE(Main()->Action(cmd::FileClose)->isVisible());
    EXPECT_FALSE(Main()->Action(cmd::OpenInside)->isVisible());
    EXPECT_FALSE(Main()->Action(cmd::ViewTop)->isEnabled());
    EXPECT_TRUE(Main()->Action(cmd::FilePrint)->isVisible()) << "toolbar buttons stay, greyed";
    EXPECT_FALSE(Main()->Action(cmd::FilePrint)->isEnabled());
    EXPECT_FALSE(Main()->Action(cmd::SurfaceRgb)->isEnabled());
    ASSERT_NE(app.OpenDocumentFile(Model("a.vtp", {5, 5, true, {}})), nullptr);
    Settle();
    EXPECT_TRUE(Main()->Action(cmd::FileClose)->isVisible());
    EXPECT_TRUE(Main()->Action(cmd::ViewTop)->isEnabled());
    // Every toolbar button has a 16 x 16 picture with hot and disabled forms.
    for (QToolBar* bar : {Main()->StandardToolBar(), Main()->ViewToolBar()})
        for (QAction* a : bar->actions()) {
            if (a->isSeparator())
                continue;
            const QImage normal = a->icon().pixmap(16, 16, QIcon::Normal).toImage();
            const QImage hot = a->icon().pixmap(16, 16, QIcon::Active).toImage();
            const QImage disabled = a->icon().pixmap(16, 16, QIcon::Disabled).toImage();
            ASSERT_EQ(normal.size(), QSize(16, 16)) << a->text().toStdString();
            EXPECT_NE(normal, disabled) << a->text().toStdString();
            EXPECT_NE(normal, hot) << a->text().toStdString();
            int opaque = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    opaque += qAlpha(normal.pixel(x, y)) > 0;
            EXPECT_GT(opaque, 30) << "an empty icon: " << a->text().toStdString();
        }
    // Presets reach the active view.
    Main()->Action(cmd::ViewFront)->trigger();
    double dop[3];
    Main()->ActiveFrame()->GetView()->GetRenderer()->GetActiveCamera()->GetDirectionOfProjection(dop);
    EXPECT_NEAR(dop[1], 1.0, 1e-9);
}

TEST_F(MainFrameTest, DroppingFilesOutsideAViewOpensOneDocumentWithAllOfThem)
{
    const QStringList files = {Model("a.vtp", {4, 4, true, {}}), Model("b.vtp", {4, 4, true, {}}),
                               Model("c.vtk", {4, 4, true, {}, true})};
    Drop(files, QPoint(5, 5)); // over the menu bar area, no document open
    ASSERT_EQ(Main()->Frames().size(), 1);
    EXPECT_EQ(Main()->Frames()[0]->GetFrameDocument()->GetModelCount(), 3);
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 48 points and 54 faces. Viewing 48 points and 54 faces.");

    // Onto the view: added to that document, ".VTP" written in upper case is skipped.
    WriteModel(dir.File("upper.VTP"), {4, 4, true, {}});
    CQuarlonView* view = Main()->ActiveFrame()->GetView();
    const QPoint inside = view->mapTo(Main(), QPoint(view->width() / 2, view->height() / 2));
    Drop({QString::fromStdString(dir.File("upper.VTP")), Model("d.vtp", {4, 4, true, {}})}, inside);
    EXPECT_EQ(Main()->Frames().size(), 1);
    EXPECT_EQ(Main()->Frames()[0]->GetFrameDocument()->GetModelCount(), 4);

    // A first file that fails: the next one opens the document instead.
    WriteText(dir.File("bad.vtp"), "not a model");
    Drop({QString::fromStdString(dir.File("bad.vtp")), Model("e.vtp", {4, 4, true, {}}), Model("f.vtp", {4, 4, true, {}})},
         QPoint(5, 5));
    ASSERT_EQ(Main()->Frames().size(), 2);
}

TEST_F(MainFrameTest, OpenCommandUsesTheChooserAndProjectFilesOpenAllTheirModels)
{
    Model("a.vtp", {4, 4, true, {}});
    Model("b.vtp", {4, 4, true, {}});
    WriteText(dir.File("site.mvtp"), "2\r\na.vtp\r\nb.vtp\r\n");
    chooser.files = QStringList{QString::fromStdString(dir.File("site.mvtp"))};
    Main()->Action(cmd::FileOpen)->trigger();
    EXPECT_TRUE(chooser.filter.contains("*.mvtp"));
    ASSERT_EQ(Main()->Frames().size(), 1);
    EXPECT_EQ(Main()->Frames()[0]->GetFrameDocument()->GetModelCount(), 2);
    EXPECT_EQ(app.RecentFiles().value(0), QString::fromStdString(dir.File("site.mvtp")));
}

TEST_F(MainFrameTest, LoadSampleModelOpensTheBundledModel)
{
    // The test program does not sit beside the sample model: the box says so.
    app.OnLoadSampleModel();
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.icons[0], IPrompt::Icon::Information);
    CQuarlonFrame* frame = app.OpenDocumentFile(QStringLiteral(QUARLON_SAMPLE_DIR "/sampleModel.vtp"));
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(Main()->StatusCounts().startsWith("Loaded 307200 points"));
}

TEST_F(MainFrameTest, WindowClosedMaximisedStartsMaximised)
{
    Main()->showMaximized();
    Settle();
    Main()->close();
    Settle();
    CQuarlonApp second;
    int code = 0;
    // The first copy still listens; a new name for the second one.
    qputenv("QUARLON_INSTANCE", "quarlon-gui-test-second");
    ASSERT_TRUE(second.InitInstance({QStringLiteral("quarlon")}, code));
    EXPECT_TRUE(second.MainFrame()->isMaximized());
}

TEST_F(MainFrameTest, PrintingToPdfDrawsTheView)
{
    CQuarlonFrame* frame = app.OpenDocumentFile(QStringLiteral(QUARLON_SAMPLE_DIR "/sampleModel.vtp"));
    ASSERT_NE(frame, nullptr);
    Settle(100);
    const QString pdf = QString::fromStdString(dir.File("view.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(frame->GetView()->PrintTo(printer));
    ASSERT_TRUE(QFileInfo(pdf).size() > 5000) << QFileInfo(pdf).size();
    // Rasterise the page and look for the model's colours.
    const std::string png = dir.File("page");
    const std::string cmd = "pdftoppm -r 30 -png -singlefile '" + pdf.toStdString() + "' '" + png + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "pdftoppm (poppler-utils) is needed";
    const QImage page(QString::fromStdString(png + ".png"));
    ASSERT_FALSE(page.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < page.height(); y += 3)
        for (int x = 0; x < page.width(); x += 3)
            colours.insert(page.pixel(x, y));
    EXPECT_GT(colours.size(), 50) << "the page is blank";
}

TEST_F(MainFrameTest, HelpBoxes)
{
    // Version text: four numbers with points.
    EXPECT_EQ(ProgramVersion().count('.'), 3);
    CAboutDlg about(ProgramVersion());
    EXPECT_EQ(about.findChild<QLabel*>("versionText")->text(), "Quarlon\nVersion " + ProgramVersion());

    // English chosen with only the Italian file present: the box, and the dialog stays.
    TempDir docs;
    WriteText(docs.File("Quarlon_ITA.chm"), "x");
    CTutorialDlg tutorial(QString::fromStdString(docs.Path()));
    tutorial.show();
    tutorial.findChild<QComboBox*>("languageCombo")->setCurrentIndex(1);
    tutorial.accept();
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0], "Unable to find tutorial file into default directory. Please contact Tarvole "
                                  "Software in order to download a new tutorial file");
    EXPECT_TRUE(tutorial.isVisible());
    EXPECT_EQ(tutorial.ChosenFile(), QString::fromStdString(docs.File("Quarlon_ENG.chm")));

    CMouseInteractionDlg mouse;
    EXPECT_EQ(mouse.findChild<QLabel*>("cell_2_2")->text(), "Click on model to change the rotation center");
    EXPECT_EQ(mouse.findChild<QLabel*>("cell_0_2")->text(), "Hold & Drag to rotate XY");
    // F1 is the shortcut of the mouse help.
    EXPECT_EQ(Main()->Action(cmd::HelpMouseInteraction)->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(MainFrameTest, ProgressWindowShowsStagesAndAbortLeavesNoModel)
{
    {
        CVTKListenerDlg dlg;
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.PercentText(), "0%");
        dlg.SetFraction(0.999);
        EXPECT_EQ(dlg.PercentText(), "99%");
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QTest::keyClick(&dlg, Qt::Key_Return);
        EXPECT_TRUE(dlg.isVisible()) << "Enter and Escape do not close it";
        EXPECT_FALSE(dlg.IsAborted());
        QTest::mouseClick(dlg.findChild<QPushButton*>("abortButton"), Qt::LeftButton);
        EXPECT_TRUE(dlg.IsAborted());
    }
    // Press Abort as soon as the window shows up during a real load.
    const QString big = Model("big.vtp", {400, 300, true, {RgbArray(), IntensityArray()}});
    QStringList stagesSeen;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dlg = qobject_cast<CVTKListenerDlg*>(w); dlg && dlg->isVisible()) {
                stagesSeen << dlg->StageText();
                QTest::mouseClick(dlg->findChild<QPushButton*>("abortButton"), Qt::LeftButton);
            }
    });
    clicker.start(0);
    CQuarlonFrame* frame = app.OpenDocumentFile(big);
    clicker.stop();
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(Main()->Frames().isEmpty());
    EXPECT_FALSE(stagesSeen.isEmpty());
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 0 points and 0 faces. Viewing 0 points and 0 faces.");
    // Without Abort the same file loads.
    EXPECT_NE(app.OpenDocumentFile(big), nullptr);
}

TEST_F(MainFrameTest, ImportConvertsOpensAndAsksBeforeReplacing)
{
    std::string text = "Scan_3DPOLY\n";
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(500000 + i * 0.01) + " " + std::to_string(4500000 + (i % 70) * 0.1) + " 100.5 " +
                std::to_string(i % 256) + " 128 64 " + std::to_string(i % 2048) + "\n";
    WriteText(dir.File("cloud.xyz"), text);
    chooser.files = QStringList{QString::fromStdString(dir.File("cloud.xyz"))};
    // Available without a document.
    ASSERT_TRUE(Main()->Action(cmd::FileImport)->isVisible());
    Main()->Action(cmd::FileImport)->trigger();
    ASSERT_EQ(Main()->Frames().size(), 1);
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 5000 points and 0 faces. Viewing 5000 points and 0 faces.");
    EXPECT_TRUE(prompt.messages.isEmpty());
    CQuarlonDoc::Position pos = Main()->Frames()[0]->GetFrameDocument()->GetFirstModelPosition();
    CScanPos* model = Main()->Frames()[0]->GetFrameDocument()->GetNextModel(pos);
    EXPECT_EQ(model->GetActiveArrayName(), "RGB");

    // Again: the question names the model; No leaves everything as it was.
    const std::string before = ReadText(dir.File("cloud.vtp"));
    prompt.answer = false;
    WriteText(dir.File("cloud.xyz"), "1 2 3\n");
    Main()->Action(cmd::FileImport)->trigger();
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0], "A converted 3d model named cloud already exists. Do you want to overwrite it?");
    EXPECT_EQ(ReadText(dir.File("cloud.vtp")), before);
    EXPECT_EQ(Main()->Frames().size(), 1);
    // Yes replaces it once the conversion succeeded.
    prompt.answer = true;
    Main()->Action(cmd::FileImport)->trigger();
    ASSERT_EQ(Main()->Frames().size(), 1) << "the old document gave way to the new model";
    EXPECT_EQ(Main()->StatusCounts(), "Loaded 1 points and 0 faces. Viewing 1 points and 0 faces.");
    EXPECT_NE(ReadText(dir.File("cloud.vtp")), before);
    // A bad file: the error, and the model stays.
    const std::string good = ReadText(dir.File("cloud.vtp"));
    WriteText(dir.File("cloud.xyz"), "this is no point cloud\n");
    Main()->Action(cmd::FileImport)->trigger();
    EXPECT_EQ(prompt.messages.back(), "Error converting the file. Please check input format.");
    EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Error);
    EXPECT_EQ(ReadText(dir.File("cloud.vtp")), good);
    EXPECT_FALSE(FileExists(dir.File("cloud_Z.vtp"))) << "no temporary file is left behind";
}

TEST_F(MainFrameTest, AChosenFileThatDoesNotLoadSaysWhy)
{
    // A LAZ without its LASzip record through File > Open: the message says so.
    LasFile laz;
    laz.points.resize(3);
    std::string packed = LasBytes(laz);
    packed[104] = static_cast<char>(0x82);
    WriteText(dir.File("scan.laz"), packed);
    chooser.files = QStringList{QString::fromStdString(dir.File("scan.laz"))};
    Main()->Action(cmd::FileOpen)->trigger();
    EXPECT_TRUE(Main()->Frames().isEmpty());
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_TRUE(prompt.messages[0].startsWith("Unable to open " + QString::fromStdString(dir.File("scan.laz")) + ": "));
    EXPECT_TRUE(prompt.messages[0].contains("marked as LAZ but has no LASzip record")) << prompt.messages[0].toStdString();
    EXPECT_EQ(prompt.icons[0], IPrompt::Icon::Warning);

    // Open Inside a PLY that lies about its vertices: the reason, the
    // document keeps what it had.
    chooser.files = QStringList{Model("a.vtp", {4, 4, true, {}})};
    Main()->Action(cmd::FileOpen)->trigger();
    ASSERT_EQ(Main()->Frames().size(), 1);
    WriteText(dir.File("lie.ply"), "ply\nformat binary_little_endian 1.0\nelement vertex 1000000000\n"
                                   "property float x\nproperty float y\nproperty float z\nend_header\n");
    chooser.files = QStringList{QString::fromStdString(dir.File("lie.ply"))};
    Main()->Action(cmd::OpenInside)->trigger();
    EXPECT_EQ(Main()->Frames()[0]->GetFrameDocument()->GetModelCount(), 1);
    ASSERT_EQ(prompt.messages.size(), 2);
    EXPECT_TRUE(prompt.messages[1].contains("more data than the file holds")) << prompt.messages[1].toStdString();
    // A file of no model type is skipped without a word, as before.
    WriteText(dir.File("notes.txt"), "x");
    chooser.files = QStringList{QString::fromStdString(dir.File("notes.txt"))};
    Main()->Action(cmd::OpenInside)->trigger();
    EXPECT_EQ(prompt.messages.size(), 2);
}

TEST_F(MainFrameTest, FileDialogsOpenWithEveryReadableFileAndInTheDocumentsFolder)
{
    chooser.files.clear();
    Main()->Action(cmd::FileOpen)->trigger();
    EXPECT_TRUE(chooser.filter.startsWith("All Supported Files (*.pvtp *.vtp *.vtk *.mvtp *.las")) << chooser.filter.toStdString();
    EXPECT_TRUE(chooser.filter.contains("PolyData Files (*.pvtp *.vtp *.vtk *.mvtp)")) << "the model-only filter stays";
    ::mkdir(dir.File("site").c_str(), 0755);
    WriteModel(dir.File("site/a.vtp"), {4, 4, true, {}});
    ASSERT_NE(app.OpenDocumentFile(QString::fromStdString(dir.File("site/a.vtp"))), nullptr);
    EXPECT_EQ(DialogStartFolder(), QString::fromStdString(dir.File("site")));
}

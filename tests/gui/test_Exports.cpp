// Tools > Merge Models and ASCII Export as a user runs them: the save
// dialog, the PLY question, the export definition, the files written, and
// the messages when writing is not possible.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "core/exchange/AsciiExport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/exchange/CASCIIExportDlg.h"
#include "gui/exchange/CModelListDlg.h"
#include "gui/view/CQuarlonFrame.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <vtkPolyData.h>

#include <algorithm>
#include <functional>
#include <unistd.h>

TEST_F(AppTest, MergeModelsWritesEveryFormatAndSaysWhenItCannot)
{
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("plane.vtp", {41, 31, true, {RgbArray()}}));
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->OpenInsideFile(Model("second.vtp", {4, 4, true, {RgbArray()}})));
    auto run = [this](int id, const std::string& file) {
        chooser.saveAs = QString::fromStdString(dir.File(file));
        app.MainFrame()->Action(id)->trigger();
    };
    prompt.answer = false; // ASCII PLY
    run(cmd::MergePly, "all.ply");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    EXPECT_EQ(prompt.messages[prompt.messages.size() - 2], "Do you want to save file as binary data?");
    EXPECT_NE(ReadText(dir.File("all.ply")).find("format ascii"), std::string::npos);
    EXPECT_EQ(chooser.filter, "PLY Model (*.ply)");
    run(cmd::MergeObj, "scene.obj");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    EXPECT_TRUE(FileExists(dir.File("scene.obj")) && FileExists(dir.File("scene.mtl")));
    run(cmd::MergeVrml, "scene.wrl");
    EXPECT_TRUE(FileExists(dir.File("scene.wrl")));
    run(cmd::MergeAscii, "points.txt");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    const std::string listing = ReadText(dir.File("points.txt"));
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 41 * 31 + 16);
    // A folder that does not exist: the message, no success.
    run(cmd::MergeAscii, "nofolder/points.txt");
    EXPECT_EQ(prompt.messages.last(), "Unabe to write file!");
    // Cancelling the save dialog does nothing.
    const int before = prompt.messages.size();
    chooser.saveAs.clear();
    app.MainFrame()->Action(cmd::MergePly)->trigger();
    EXPECT_EQ(prompt.messages.size(), before);
}

namespace {

// Runs `inside` on the ASCII export dialog once it is shown modally, then
// lets the test's command return.
void WithAsciiDialog(CMainFrame* main, std::function<void(CASCIIExportDlg*)> inside, bool* shown)
{
    *shown = false;
    // The command may let events run before its dialog opens: look until
    // the command has returned.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, main, [&poll, inside, shown] {
        auto* dialog = qobject_cast<CASCIIExportDlg*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        *shown = true;
        inside(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start();
    main->Action(cmd::AsciiExport)->trigger();
    poll.stop();
}

template <typename T> T* Control(QWidget* dialog, int id)
{
    return dialog->findChild<T*>(QStringLiteral("control%1").arg(id));
}

QString Simulation(QWidget* dialog) { return Control<QLabel>(dialog, 1052)->text(); }

} // namespace

TEST_F(AppTest, AsciiExportDialogSimulatesWritesAndStoresItsDefinition)
{
    // Intensity 0.5 everywhere: 127 in the file and in the simulation.
    ModelShape shape{6, 4, true, {RgbArray(), IntensityArray("Intensity", 0.5, 0.5)}};
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("cloud.vtp", shape));
    ASSERT_NE(frame, nullptr);
    CMainFrame* main = app.MainFrame();
    ::unlink(exchange::AsciiDefinitionUserFile().c_str());
    bool shown = false;

    // One model: straight to the dialog, with the defaults.
    WithAsciiDialog(main, [&](CASCIIExportDlg* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "ASCII Export");
        EXPECT_EQ(Simulation(dlg), ".......");
        EXPECT_EQ(Control<QComboBox>(dlg, 1061)->currentText(), "X");
        EXPECT_EQ(Control<QComboBox>(dlg, 1069)->currentText(), "Endln");
        EXPECT_EQ(Control<QComboBox>(dlg, 1060)->currentText(), "0.000");
        EXPECT_EQ(Control<QLineEdit>(dlg, 1093)->text(), "1.0");

        Control<QPushButton>(dlg, 1051)->click();
        const QStringList lines = Simulation(dlg).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 5) << Simulation(dlg).toStdString();
        // The simulation takes the model's own numbers, offsets added.
        std::string expected;
        CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
        exchange::SimulateAsciiExport(exchange::AsciiSourceOf(*frame->GetFrameDocument()->GetNextModel(pos)),
                                      dlg->Definition(), &expected);
        EXPECT_EQ(Simulation(dlg).toStdString(), expected);
        EXPECT_TRUE(lines[0].endsWith(" 127")) << lines[0].toStdString();

        // X divided by zero: the message, the simulation text stays.
        Control<QComboBox>(dlg, 1053)->setCurrentIndex(1);
        Control<QLineEdit>(dlg, 1043)->setText("0");
        Control<QPushButton>(dlg, 1051)->click();
        EXPECT_EQ(prompt.messages.last(), "Division by 0 impossible for X coordinate");
        EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Warning);
        EXPECT_EQ(Simulation(dlg).toStdString(), expected);
        Control<QComboBox>(dlg, 1053)->setCurrentIndex(0);
        Control<QLineEdit>(dlg, 1043)->setText("1.0");

        // Save..: commas, Id first; the file as the core writes it.
        Control<QComboBox>(dlg, 1059)->setCurrentIndex(2);
        Control<QComboBox>(dlg, 1061)->setCurrentIndex(exchange::kItemId);
        chooser.saveAs = QString::fromStdString(dir.File("cloud.txt"));
        Control<QPushButton>(dlg, 1070)->click();
        EXPECT_EQ(chooser.filter, "XYZ (*.xyz);;TXT (*.txt);;ASC (*.asc)");
        EXPECT_EQ(prompt.messages.last(), "Saving Finished");
        EXPECT_EQ(Control<QProgressBar>(dlg, 1072)->value(), 100);
        EXPECT_TRUE(Control<QPushButton>(dlg, 1070)->isEnabled()) << "inputs enabled again";
        const std::string file = ReadText(dir.File("cloud.txt"));
        EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 24);
        EXPECT_EQ(file.substr(0, 2), "1,");
        EXPECT_NE(file.find(",127\n"), std::string::npos) << file.substr(0, 80);
        // A folder that does not exist: the reason, no success, no simulation text.
        chooser.saveAs = QString::fromStdString(dir.File("none/cloud.txt"));
        Control<QPushButton>(dlg, 1070)->click();
        EXPECT_TRUE(prompt.messages.last().startsWith("Unable to write the file: ")) << prompt.messages.last().toStdString();
        EXPECT_EQ(Control<QProgressBar>(dlg, 1072)->value(), 0) << "nothing was saved";
        EXPECT_EQ(Simulation(dlg).toStdString(), expected);
        Control<QPushButton>(dlg, 1)->click(); // OK stores the definition
    }, &shown);
    ASSERT_TRUE(shown) << prompt.messages.join('|').toStdString();
    const std::string definition = ReadText(exchange::AsciiDefinitionUserFile());
    for (const char* key : {"[X]\nformula=0\nvalue=1.0\n", "[Intensity]\nformula=0\nvalue=1.0\n", "[Separator]\nval=2\n",
                            "[DoubleFormat]\nval=3\n", "[ColorFormat]\nval=0\n", "[Composition]\n1=0\n2=2\n"})
        EXPECT_NE(definition.find(key), std::string::npos) << key << " in\n" << definition;

    // Reopened: the stored definition; closing otherwise stores nothing.
    WithAsciiDialog(main, [&](CASCIIExportDlg* dlg) {
        EXPECT_EQ(Control<QComboBox>(dlg, 1059)->currentText(), "Comma");
        EXPECT_EQ(Control<QComboBox>(dlg, 1061)->currentText(), "Id");
        Control<QComboBox>(dlg, 1059)->setCurrentIndex(4);
        dlg->reject();
    }, &shown);
    ASSERT_TRUE(shown);
    EXPECT_EQ(ReadText(exchange::AsciiDefinitionUserFile()), definition);
}

TEST_F(AppTest, AsciiExportNeedsOneModelOfTheList)
{
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("a.vtp", {4, 4, true, {RgbArray()}}));
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->OpenInsideFile(Model("b.vtp", {3, 3, true, {}})));
    CMainFrame* main = app.MainFrame();
    bool shown = false;
    WithAsciiDialog(main, [](CASCIIExportDlg*) {}, &shown);
    EXPECT_FALSE(shown);
    EXPECT_EQ(prompt.messages.last(), "Please select the model you want to export from \"Models List\" window.");
    EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Information);
    ASSERT_NE(frame->GetModelListDlg(), nullptr);
    EXPECT_TRUE(frame->GetModelListDlg()->isVisible()) << "the list is shown to choose from";

    CModelListCtrl* list = frame->GetModelListDlg()->List();
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    list->selectRow(0);
    list->selectRow(1);
    WithAsciiDialog(main, [](CASCIIExportDlg*) {}, &shown);
    EXPECT_FALSE(shown);
    EXPECT_EQ(prompt.messages.last(), "Please select just one model to export from \"Models List\" window.");
    EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Warning);

    list->clearSelection();
    list->selectRow(1);
    int lines = 0;
    WithAsciiDialog(main, [&](CASCIIExportDlg* dlg) {
        Control<QComboBox>(dlg, 1061)->setCurrentIndex(exchange::kItemId);
        Control<QPushButton>(dlg, 1051)->click();
        lines = Simulation(dlg).count('\n');
    }, &shown);
    EXPECT_TRUE(shown);
    // The selected model's points: which one is in row 1 is the list's order.
    const CScanPos* chosen = frame->GetModelListDlg()->GetModelAt(1);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(lines, std::min<int>(5, chosen->GetPolyData()->GetNumberOfPoints()));

    // No model: the message.
    frame->GetFrameDocument()->RemoveAllModels();
    WithAsciiDialog(main, [](CASCIIExportDlg*) {}, &shown);
    EXPECT_FALSE(shown);
    EXPECT_EQ(prompt.messages.last(), "No models present in the document.\nPlease add one or models following \"File\" menu.");
}

TEST_F(AppTest, AsciiExportAbortKeepsTheUsersFile)
{
    // Large enough that the export looks at its Abort button on the way.
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("big.vtp", {400, 250, false, {RgbArray()}}));
    ASSERT_NE(frame, nullptr);
    WriteText(dir.File("keep.txt"), "the user's file");
    bool shown = false;
    WithAsciiDialog(app.MainFrame(), [&](CASCIIExportDlg* dlg) {
        auto* abort = dlg->findChild<QPushButton*>("abort");
        ASSERT_NE(abort, nullptr);
        EXPECT_FALSE(abort->isEnabled()) << "only while writing";
        // Pressed as soon as the export lets the window handle events.
        QTimer::singleShot(0, abort, [abort] {
            EXPECT_TRUE(abort->isEnabled());
            EXPECT_FALSE(abort->window()->findChild<QPushButton*>("control1")->isEnabled()) << "OK is off meanwhile";
            abort->click();
        });
        chooser.saveAs = QString::fromStdString(dir.File("keep.txt"));
        const int before = prompt.messages.size();
        Control<QPushButton>(dlg, 1070)->click();
        EXPECT_EQ(prompt.messages.size(), before) << "no \"Saving Finished\": " << prompt.messages.last().toStdString();
        EXPECT_EQ(Control<QProgressBar>(dlg, 1072)->value(), 0);
        EXPECT_FALSE(abort->isEnabled());
        EXPECT_TRUE(Control<QPushButton>(dlg, 1070)->isEnabled());
    }, &shown);
    ASSERT_TRUE(shown);
    EXPECT_EQ(ReadText(dir.File("keep.txt")), "the user's file");
    EXPECT_FALSE(HasTemporary(dir.Path()));
}

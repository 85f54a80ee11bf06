// The measuring tools as a user drives them: Shift-clicks on a rendered,
// georeferenced plane, the figures and markers, stored measures across a
// reopening, Copy, and the scale tool.
#include "GuiFixtures.h"
#include "core/common/AppSettings.h"

#include "core/measure/MeasureFile.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/tools/CChooseMeasureDlg.h"
#include "gui/tools/CMeasureDlg.h"
#include "gui/tools/CScaleDlg.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QProcess>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QDropEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QComboBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <vtkCaptionActor2D.h>
#include <vtkPolyData.h>
#include <vtkProperty2D.h>

#include <cmath>

namespace {

double Tilted(int, int j) { return 0.5 * j; } // rises 0.5 m per metre northwards

struct MeasureToolsTest : AppTest {
    CQuarlonFrame* frame = nullptr;
    CQuarlonView* view = nullptr;
    CMeasureDlg* dlg = nullptr;

    void OpenPlane()
    {
        app.MainFrame()->resize(1000, 800);
        app.MainFrame()->show();
        WriteModel(dir.File("plane.vtp"), {41, 31, true, {RgbArray()}, false, &Tilted});
        WriteText(dir.File("plane.vtw"), "[PolyData Offset]\nX=500000\nY=4500000\nZ=100\n");
        WriteText(dir.File("plane.ini"), "[CloudData]\nRepresentation=14\n");
        frame = app.OpenDocumentFile(QString::fromStdString(dir.File("plane.vtp")));
        ASSERT_NE(frame, nullptr);
        view = frame->GetView();
        dlg = frame->GetMeasureDlg();
        Settle();
        view->SetPresetView(0);
    }
    void Pick(double x, double y, Qt::MouseButton button = Qt::LeftButton)
    {
        const double world[3] = {x, y, Tilted(0, 0) + 0.5 * y};
        QTest::mouseClick(view, button, Qt::ShiftModifier, PixelOf(view, world));
    }
    QString Cell(int row, int column) { return dlg->List()->item(row, column)->text(); }
    double Field(const char* name) { return dlg->FieldText(name).toDouble(); }
    // Answers the next modal name dialog with `name` (and OK).
    void AnswerNameDialog(const QString& name, bool selectFirstRow = false)
    {
        QTimer::singleShot(0, [name, selectFirstRow] {
            auto* choose = qobject_cast<CChooseMeasureDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(choose, nullptr);
            if (selectFirstRow)
                choose->findChild<QTableWidget*>("m_listMeasures")->selectRow(0);
            else
                choose->findChild<QLineEdit*>("m_editName")->setText(name);
            choose->accept();
        });
    }
};

} // namespace

TEST_F(MeasureToolsTest, SnappingToCornersMeasuresTheSquareExactly)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    ASSERT_TRUE(dlg->isVisible());
    // The tool's Snap choice, kept in the settings for the scale tool too.
    auto* snap = dlg->findChild<QComboBox*>(QStringLiteral("m_comboSnap"));
    ASSERT_NE(snap, nullptr);
    EXPECT_EQ(snap->currentText(), "Off");
    ASSERT_EQ(snap->count(), 3);
    EXPECT_EQ(snap->itemText(2), "Corners and edges");
    QTest::keyClick(snap, Qt::Key_Down); // activated: Points
    QTest::keyClick(snap, Qt::Key_Down); // Corners and edges
    EXPECT_EQ(appsettings::ReadSetting("Measure", "Snap", "", 16), "2");
    // Clicks a few pixels off the corners of a 10 m square on the tilted
    // plane take the corners themselves: the sides are exact.
    for (const auto& corner : {std::make_pair(10, 10), std::make_pair(20, 10), std::make_pair(20, 20), std::make_pair(10, 20)}) {
        const double world[3] = {double(corner.first), double(corner.second), Tilted(0, 0) + 0.5 * corner.second};
        QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, world) + QPoint(4, 3));
    }
    ASSERT_EQ(dlg->List()->rowCount(), 4);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(Cell(r, 4), "vertex") << r;
    EXPECT_EQ(Cell(0, 1), "500010.000");
    EXPECT_EQ(Cell(1, 1), "500020.000");
    EXPECT_EQ(Cell(2, 2), "4500020.000");
    EXPECT_EQ(Field("m_editLength"), std::round(Field("m_editLength") * 1000) / 1000);
    const double rise = 0.5 * 10.0;
    EXPECT_NEAR(Field("m_editPerimeter"), 2 * 10.0 + 2 * std::sqrt(100.0 + rise * rise), 0.0006);
    appsettings::WriteSetting("Measure", "Snap", "0");
}

TEST_F(MeasureToolsTest, FourPickedCornersGiveTheFiguresOfTheirRows)
{
    OpenPlane();
    EXPECT_FALSE(dlg->isVisible());
    app.MainFrame()->Action(cmd::Measure)->trigger();
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_TRUE(app.MainFrame()->Action(cmd::Measure)->isChecked());
    // Inside the view's area, not over the toolbars.
    EXPECT_GE(dlg->frameGeometry().top(), view->mapToGlobal(QPoint(0, 0)).y());

    // A 10 m x 10 m square on the plane that rises 0.5 m per metre.
    Pick(10, 10), Pick(20, 10), Pick(20, 20), Pick(10, 20);
    ASSERT_EQ(dlg->List()->rowCount(), 4);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(Cell(r, 0), QString::number(r));
        EXPECT_TRUE(dlg->List()->selectionModel()->isRowSelected(r, QModelIndex()));
        double c[3];
        dlg->Marker(r)->GetProperty()->GetColor(c);
        EXPECT_EQ(c[1], 1.0) << "selected markers are green";
        EXPECT_EQ(std::string(dlg->Marker(r)->GetCaption()), "p_" + std::to_string(r));
    }
    EXPECT_TRUE(Cell(0, 1).startsWith("500010.")) << Cell(0, 1).toStdString();

    // The figures, recomputed here from the row texts by plain arithmetic.
    double x[4], y[4], z[4];
    for (int r = 0; r < 4; ++r)
        x[r] = Cell(r, 1).toDouble(), y[r] = Cell(r, 2).toDouble(), z[r] = Cell(r, 3).toDouble();
    auto d = [&](int a, int b) { return std::sqrt(std::pow(x[a] - x[b], 2) + std::pow(y[a] - y[b], 2) + std::pow(z[a] - z[b], 2)); };
    const double length = d(0, 1) + d(1, 2) + d(2, 3);
    EXPECT_NEAR(Field("m_editLength"), length, 0.0006);
    EXPECT_NEAR(Field("m_editPerimeter"), length + d(3, 0), 0.0006);
    double shoelace = 0;
    for (int i = 0; i < 4; ++i)
        shoelace += x[i] * (y[(i + 3) % 4] - y[(i + 1) % 4]);
    EXPECT_NEAR(Field("m_editAreaXY"), std::fabs(shoelace) / 2, 0.0006);
    // On the tilted plane the square is longer by sqrt(1 + 0.5^2) northwards.
    EXPECT_NEAR(Field("m_editAreaPlane"), Field("m_editAreaXY") * std::sqrt(1.25), 0.01);
    EXPECT_NEAR(Field("m_editAreaView"), Field("m_editAreaXY"), 0.0006) << "looking down the z axis";
    EXPECT_NEAR(Field("m_editAreaXY"), 100.0, 2.0);
    EXPECT_TRUE(dlg->findChild<QLineEdit*>("m_editAreaPlane")->toolTip().startsWith("fit RMS 0.0"));

    // Turn the camera: after the button is released the view-plane area follows.
    app.MainFrame()->Action(cmd::ViewFront)->trigger();
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_NEAR(Field("m_editAreaView"), std::fabs(shoelace) / 2 * 0.5, 1.0) << "seen from the south: the z extent";

    // Unselected rows leave the measure and turn pink.
    dlg->List()->selectionModel()->select(dlg->List()->model()->index(3, 0),
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    double c[3];
    dlg->Marker(3)->GetProperty()->GetColor(c);
    EXPECT_EQ(c[0], 1.0);
    EXPECT_EQ(c[1], 0.5);
    EXPECT_NEAR(Field("m_editLength"), d(0, 1) + d(1, 2), 0.0006);

    // Copy: the selected rows, tab-separated, one line each.
    dlg->OnCopy();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.count('\n'), 3);
    EXPECT_TRUE(copied.startsWith("0\t" + Cell(0, 1) + "\t" + Cell(0, 2) + "\t" + Cell(0, 3) + "\n"));

    // Deleting: the question, then the markers leave the view.
    prompt.answer = true;
    dlg->OnDeleteAll();
    EXPECT_EQ(dlg->List()->rowCount(), 0);
    EXPECT_EQ(prompt.messages.last(), "Erase all points listed?");
    EXPECT_EQ(dlg->FieldText("m_editLength"), "0.000");
    Pick(15, 15);
    EXPECT_EQ(Cell(0, 0), "0") << "the first point of an empty list is 0";
}

TEST_F(MeasureToolsTest, AStoredMeasureComesBackAfterReopeningAndAFailedSaveLosesNothing)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    Pick(5, 5), Pick(15, 5), Pick(15, 12);
    QStringList rows;
    for (int r = 0; r < 3; ++r)
        rows << Cell(r, 0) + Cell(r, 1) + Cell(r, 2) + Cell(r, 3);
    const QString area = dlg->FieldText("m_editAreaPlane");

    AnswerNameDialog("roof");
    dlg->OnSaveMeasures();
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    const std::string msr = dir.File("plane.msr");
    const std::string saved = ReadText(msr);
    EXPECT_EQ(saved.substr(0, 14), "1\r\nroof\r\n3\r\n0;");

    // A save that cannot write keeps the file as it was.
    AnswerNameDialog("second");
    {
        const FileSizeLimit limit(16);
        dlg->OnSaveMeasures();
    }
    EXPECT_EQ(prompt.messages.last(), "Unable to save the measure!");
    EXPECT_EQ(ReadText(msr), saved);
    EXPECT_FALSE(HasTemporary(dir.Path()));

    // Close the document, open it again: the measure is there to open.
    app.MainFrame()->Action(cmd::FileClose)->trigger();
    Settle();
    frame = app.OpenDocumentFile(QString::fromStdString(dir.File("plane.vtp")));
    ASSERT_NE(frame, nullptr);
    view = frame->GetView();
    dlg = frame->GetMeasureDlg();
    Settle();
    EXPECT_EQ(dlg->StoredMeasures().count("roof"), 1u);
    EXPECT_EQ(dlg->StoredMeasures().count("second"), 0u) << "the failed save never reached the file";
    app.MainFrame()->Action(cmd::Measure)->trigger();
    AnswerNameDialog(QString(), true);
    dlg->OnOpenMeasures();
    ASSERT_EQ(dlg->List()->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(Cell(r, 0) + Cell(r, 1) + Cell(r, 2) + Cell(r, 3), rows[r]);
    EXPECT_EQ(dlg->FieldText("m_editAreaPlane"), area);
}

TEST_F(MeasureToolsTest, TheScaleToolScalesTheFirstModelFromTwoPickedPoints)
{
    OpenPlane();
    CScaleDlg* scale = frame->GetScaleDlg();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    app.MainFrame()->Action(cmd::ScaleModel)->trigger();
    EXPECT_TRUE(scale->isVisible());
    EXPECT_FALSE(dlg->isVisible()) << "one picking tool at a time";
    Pick(10, 10);
    Pick(30, 10, Qt::RightButton);
    auto* current = scale->findChild<QLineEdit*>("m_editCurrentLength");
    auto* wanted = scale->findChild<QLineEdit*>("m_editNewLength");
    ASSERT_FALSE(current->text().isEmpty());
    EXPECT_NEAR(current->text().toDouble(), 20.0, 0.2);
    EXPECT_EQ(wanted->text(), current->text());
    EXPECT_TRUE(view->GetCaptionPt1()->GetVisibility());

    scale->OnApplyScale();
    EXPECT_EQ(prompt.messages.last(), "No Scale is needed. Please insert a different length value");
    wanted->setText("abc");
    scale->OnApplyScale();
    EXPECT_EQ(prompt.messages.last(), "Please verify New Length value.");

    CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
    CScanPos* model = frame->GetFrameDocument()->GetNextModel(pos);
    double before[6], after[6];
    model->GetPolyData()->GetBounds(before);
    wanted->setText(QString::number(2 * current->text().toDouble(), 'f', 3));
    prompt.answer = true;
    scale->OnApplyScale();
    EXPECT_EQ(prompt.messages.last(), "Confirm scale changes?");
    model->GetPolyData()->GetBounds(after);
    EXPECT_NEAR(after[1], 2 * before[1], 1e-9);
    // The picked points went with the model: the markers stand on the
    // scaled model, and the current length is the new one.
    const double* p1 = view->GetCaptionPt1()->GetAttachmentPoint();
    const double* p2 = view->GetCaptionPt2()->GetAttachmentPoint();
    EXPECT_NEAR(std::hypot(p2[0] - p1[0], p2[1] - p1[1]), wanted->text().toDouble(), 0.01);
    EXPECT_NEAR(current->text().toDouble(), wanted->text().toDouble(), 0.01);

    // Closing hides the captions; showing the tool again brings them back.
    scale->accept();
    EXPECT_FALSE(view->GetCaptionPt1()->GetVisibility());
    app.MainFrame()->Action(cmd::ScaleModel)->trigger();
    EXPECT_TRUE(view->GetCaptionPt1()->GetVisibility());
    EXPECT_TRUE(view->GetCaptionPt2()->GetVisibility());
}

TEST_F(MeasureToolsTest, TheListSelectsAsEveryListAndDeleteAllClearsEveryFigure)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    Pick(5, 5), Pick(15, 5), Pick(15, 15);
    ASSERT_EQ(dlg->List()->rowCount(), 3);
    EXPECT_GT(Field("m_editAreaXY"), 40.0);
    QTableWidget* list = dlg->List();
    auto click = [&](int row, Qt::KeyboardModifiers keys) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, keys, list->visualRect(list->model()->index(row, 1)).center());
    };
    auto selected = [&] { return list->selectionModel()->selectedRows().size(); };
    click(1, Qt::NoModifier);
    EXPECT_EQ(selected(), 1) << "a click selects one row";
    click(1, Qt::NoModifier);
    EXPECT_EQ(selected(), 1) << "clicked again it stays selected";
    click(2, Qt::ControlModifier);
    EXPECT_EQ(selected(), 2) << "Ctrl + click adds";
    click(2, Qt::ControlModifier);
    EXPECT_EQ(selected(), 1) << "Ctrl + click toggles";
    click(0, Qt::NoModifier);
    click(2, Qt::ShiftModifier);
    EXPECT_EQ(selected(), 3) << "Shift + click extends";

    prompt.answer = true;
    dlg->OnDeleteAll();
    EXPECT_EQ(list->rowCount(), 0);
    for (const char* field : {"m_editLength", "m_editPerimeter", "m_editAreaPlane", "m_editAreaView", "m_editAreaXY"})
        EXPECT_EQ(dlg->FieldText(field), "0.000") << field;
}

// Each picture of a large model at rest takes long: a pick draws one, a
// button released after turning the camera adds none to the camera's own.
TEST_F(MeasureToolsTest, APickDrawsOnePictureAndOnlyChangedMarkersDrawAgain)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    Settle();
    RenderCounter renders(view);
    Pick(5, 5);
    EXPECT_EQ(renders.Take(), 1) << "the first pick";
    Pick(15, 5), Pick(15, 15);
    EXPECT_EQ(renders.Take(), 2) << "two more picks";
    ASSERT_EQ(dlg->List()->rowCount(), 3);

    const QPoint c(view->width() / 2, view->height() / 2);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, c);
    QMouseEvent move(QEvent::MouseMove, c + QPoint(40, 25), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    renders.Take();
    const QString area = dlg->FieldText("m_editAreaView");
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, c + QPoint(40, 25));
    EXPECT_EQ(renders.Take(), 1) << "the still picture after turning, and no other";
    EXPECT_NE(dlg->FieldText("m_editAreaView"), area) << "the view-plane area follows the camera";

    QTableWidget* list = dlg->List();
    auto click = [&](int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(list->model()->index(row, 1)).center());
    };
    click(1);
    EXPECT_EQ(renders.Take(), 1) << "two markers turn pink";
    click(1);
    EXPECT_EQ(renders.Take(), 0) << "nothing changed";
    dlg->findChild<QCheckBox*>()->click();
    EXPECT_EQ(renders.Take(), 1) << "markers hidden";
    double colour[3];
    dlg->Marker(0)->GetProperty()->GetColor(colour);
    EXPECT_EQ(colour[1], 0.5) << "unselected: pink";
    dlg->Marker(1)->GetProperty()->GetColor(colour);
    EXPECT_EQ(colour[1], 1.0) << "selected: green";
}

TEST_F(MeasureToolsTest, MessagesAndTheNameDialogsRules)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    dlg->OnSaveMeasures();
    EXPECT_EQ(prompt.messages.last(), "The list doesn't contain any point!");
    dlg->OnOpenMeasures();
    EXPECT_EQ(prompt.messages.last(), "No measure saved for this model!");

    // A point picked while "Show Points On Model" is clear gets a hidden marker.
    dlg->findChild<QCheckBox*>("m_btnShowPoints")->setChecked(false);
    Pick(5, 5);
    EXPECT_FALSE(dlg->Marker(0)->GetVisibility());
    dlg->findChild<QCheckBox*>("m_btnShowPoints")->setChecked(true);
    EXPECT_TRUE(dlg->Marker(0)->GetVisibility());
    Pick(8, 5);
    EXPECT_EQ(Cell(1, 0), "1");

    dlg->List()->clearSelection();
    dlg->OnSaveMeasures();
    EXPECT_EQ(prompt.messages.last(), "No point selected!");
    dlg->OnDeleteSelected();
    EXPECT_EQ(prompt.messages.last(), "Select the points to remove!");
    // As a plain click does; selectRow would read the Shift of the picks.
    dlg->List()->selectionModel()->select(dlg->List()->model()->index(0, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    prompt.answer = false;
    dlg->OnDeleteSelected();
    EXPECT_EQ(prompt.messages.last(), "Erase the selected points?");
    EXPECT_EQ(dlg->List()->rowCount(), 2);
    prompt.answer = true;
    dlg->OnDeleteSelected();
    ASSERT_EQ(dlg->List()->rowCount(), 1);
    EXPECT_EQ(Cell(0, 0), "1");
    Pick(9, 6);
    EXPECT_EQ(Cell(1, 0), "2") << "one more than the last row's Id";

    // The name dialog: empty, ";" and an existing name (No keeps it open).
    measure::MeasureMap stored;
    stored["wall"] = "0;1.000;2.000;3.000\n";
    CChooseMeasureDlg save(&stored, CChooseMeasureDlg::Save, dlg);
    auto* name = save.findChild<QLineEdit*>("m_editName");
    save.show();
    save.activateWindow();
    Settle();
    EXPECT_EQ(QApplication::focusWidget(), name) << "typing goes into the name";
    save.accept();
    EXPECT_EQ(prompt.messages.last(), "Insert a name!");
    name->setText("two\nlines");
    save.accept();
    EXPECT_EQ(prompt.messages.last(), "Warning! A line break is not allowed in a name!");
    EXPECT_TRUE(save.isVisible());
    EXPECT_TRUE(save.isVisible());
    name->setText("a;b");
    save.accept();
    EXPECT_EQ(prompt.messages.last(), "Warning! The character \";\" is not allowed!");
    name->setText("wall");
    prompt.answer = false;
    save.accept();
    EXPECT_EQ(prompt.messages.last(), "The measure already exists: overwrite it?");
    EXPECT_TRUE(save.isVisible());
    prompt.answer = true;
    save.accept();
    EXPECT_FALSE(save.isVisible());
    EXPECT_EQ(save.GetName(), "wall");
    name->setText("Wall"); // names are case-sensitive: a new one, no question
    const int asked = prompt.messages.size();
    save.show();
    save.accept();
    EXPECT_EQ(prompt.messages.size(), asked);

    CChooseMeasureDlg load(&stored, CChooseMeasureDlg::Load, dlg);
    EXPECT_EQ(load.windowTitle(), "Choose the Measure to load");
    EXPECT_TRUE(load.findChild<QLineEdit*>("m_editName")->isReadOnly());
    auto* list = load.findChild<QTableWidget*>("m_listMeasures");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 1)->text(), "1");
    load.show();
    load.accept();
    EXPECT_EQ(prompt.messages.last(), "Select the measure to load!");
    list->selectRow(0);
    EXPECT_EQ(load.findChild<QLineEdit*>("m_editName")->text(), "wall");
    load.accept();
    EXPECT_EQ(load.GetName(), "wall");
}

TEST_F(MeasureToolsTest, ASavedMeasureReadsTheSameInAnotherProgram)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    Pick(10, 10), Pick(25, 10), Pick(25, 20), Pick(10, 20);
    AnswerNameDialog("field");
    dlg->OnSaveMeasures();
    ASSERT_EQ(prompt.messages.last(), "Process completed.");
    // quarlon-cli, a separate run, reads the file and computes as the dialog.
    QProcess cli;
    cli.start(QStringLiteral(QUARLON_CLI), {QStringLiteral("measures"), QString::fromStdString(dir.File("plane.vtp"))});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0);
    const QString line = QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
    auto figure = [&line](const QString& key) {
        const int at = line.indexOf("\"" + key + "\":");
        return line.mid(at + key.size() + 3).section(QLatin1Char(','), 0, 0).remove('}').toDouble();
    };
    EXPECT_TRUE(line.startsWith("{\"name\":\"field\",\"points\":4,")) << line.toStdString();
    EXPECT_EQ(QString::asprintf("%.3f", figure("length")), dlg->FieldText("m_editLength"));
    EXPECT_EQ(QString::asprintf("%.3f", figure("perimeter")), dlg->FieldText("m_editPerimeter"));
    EXPECT_EQ(QString::asprintf("%.3f", figure("area_plane")), dlg->FieldText("m_editAreaPlane"));
    EXPECT_EQ(QString::asprintf("%.3f", figure("area_xy")), dlg->FieldText("m_editAreaXY"));
}

TEST_F(MeasureToolsTest, AProjectsMeasuresSitBesideTheProjectFile)
{
    WriteModel(dir.File("a.vtp"), {4, 4, true, {}});
    measure::MeasureMap m;
    m["door"] = "0;0.000;0.000;0.000\n1;1.000;0.000;0.000\n";
    ASSERT_TRUE(measure::WriteMeasureFile(dir.File("site4.msr"), m));
    WriteText(dir.File("site4.mvtp"), "1\r\na.vtp\r\n");
    CQuarlonFrame* project = app.OpenDocumentFile(QString::fromStdString(dir.File("site4.mvtp")));
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(project->GetMeasureDlg()->MeasureFile(), dir.File("site4.msr"));
    EXPECT_EQ(project->GetMeasureDlg()->StoredMeasures().count("door"), 1u);
}

TEST_F(MeasureToolsTest, CloseAndEnterHideTheToolEscapeDoesNot)
{
    OpenPlane();
    app.MainFrame()->Action(cmd::Measure)->trigger();
    ASSERT_TRUE(dlg->isVisible());
    QTest::keyClick(dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible()) << "Escape does nothing";
    dlg->close(); // the window's close button
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(app.MainFrame()->Action(cmd::Measure)->isChecked());
    app.MainFrame()->Action(cmd::Measure)->trigger();
    QTest::keyClick(dlg, Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible()) << "Enter acts as Close";
}

TEST_F(MeasureToolsTest, ALasFileDroppedOnTheWindowIsMeasuredLikeAModel)
{
    // A scanner's LAS of the same tilted plane: a point every 10 cm,
    // millimetre scale, georeferenced through the header's offset.
    LasFile las;
    las.offset[0] = 500000, las.offset[1] = 4500000, las.offset[2] = 100;
    for (int i = 0; i <= 300; ++i)
        for (int j = 0; j <= 200; ++j)
            las.points.push_back({100 * i, 100 * j, 50 * j, static_cast<uint16_t>(1000 + i), 40000, 30000, 20000});
    WriteText(dir.File("scan.LAS"), LasBytes(las));
    app.MainFrame()->resize(1000, 800);
    app.MainFrame()->show();
    Settle();

    // Dropped from the desktop's file manager onto the empty window.
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("scan.LAS")))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app.MainFrame(), &enter);
    QDropEvent drop(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app.MainFrame(), &drop);
    delete mime;
    ASSERT_EQ(app.MainFrame()->Frames().size(), 1);
    frame = app.MainFrame()->Frames()[0];
    EXPECT_EQ(frame->GetFrameDocument()->GetModelCount(), 1);
    EXPECT_TRUE(app.MainFrame()->StatusCounts().startsWith("Loaded 60501 points"))
        << app.MainFrame()->StatusCounts().toStdString();
    view = frame->GetView();
    dlg = frame->GetMeasureDlg();
    Settle();
    view->SetPresetView(0);

    app.MainFrame()->Action(cmd::Measure)->trigger();
    ASSERT_TRUE(dlg->isVisible());
    Pick(10, 10), Pick(20, 10), Pick(20, 20), Pick(10, 20);
    ASSERT_EQ(dlg->List()->rowCount(), 4);
    EXPECT_TRUE(Cell(0, 1).startsWith("500010.")) << Cell(0, 1).toStdString();
    EXPECT_TRUE(Cell(2, 2).startsWith("4500020.")) << Cell(2, 2).toStdString();
    EXPECT_NEAR(Cell(2, 3).toDouble(), 110.0, 0.2) << "the plane's height there";
    EXPECT_NEAR(Field("m_editAreaXY"), 100.0, 2.0);
    EXPECT_NEAR(Field("m_editAreaPlane"), Field("m_editAreaXY") * std::sqrt(1.25), 0.05);
}

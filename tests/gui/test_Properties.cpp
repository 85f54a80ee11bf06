// View > Representation Properties as a user runs it: the pages filled from
// the model, the enabling rules of each attribute class, the checks before
// Apply, Apply seen in the view, re-targeting from the models list and a
// model that leaves the document while the window is open.
#include "GuiFixtures.h"

#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/ModelSummary.h"
#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/controls/CColorButton.h"
#include "gui/controls/CRangeSlider.h"
#include "gui/exchange/CModelListDlg.h"
#include "gui/exchange/CScanPosOptionsDlg.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <vtkLODProp3D.h>
#include <vtkProperty.h>

#include <filesystem>

namespace {

struct PropertiesTest : AppTest {
    CQuarlonFrame* frame = nullptr;
    CScanPosOptionsDlg* dlg = nullptr;

    CScanPos* First() const
    {
        CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
        return frame->GetFrameDocument()->GetNextModel(pos);
    }
    void Open(const QString& path)
    {
        frame = app.OpenDocumentFile(path);
        ASSERT_NE(frame, nullptr);
    }
    void Toggle()
    {
        app.MainFrame()->Action(cmd::RepresentationProperties)->trigger();
        Settle(50);
        dlg = frame->GetPropertiesDlg();
    }
    template <typename T> T* Control(int id, QWidget* in = nullptr) const
    {
        return (in ? in : static_cast<QWidget*>(dlg))->findChild<T*>(QStringLiteral("control%1").arg(id));
    }
    QWidget* ColorPage() const { return dlg->ColorPage(); }
    QWidget* GeometryPage() const { return dlg->GeometryPage(); }
    QStringList Attributes() const
    {
        QStringList items;
        auto* list = Control<QComboBox>(1007, ColorPage());
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        return items;
    }
    void ChooseAttribute(const QString& name)
    {
        auto* list = Control<QComboBox>(1007, ColorPage());
        const int index = list->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    // Which of colour button, min, slider, max, Reset, LUT are enabled.
    QString Enabled() const
    {
        QString s;
        for (int id : {1008, 1009, 1010, 1011, 1006, 1012})
            s += ColorPage()->findChild<QWidget*>(QStringLiteral("control%1").arg(id))->isEnabled() ? '1' : '0';
        return s;
    }
    void Apply() { Control<QPushButton>(1005)->click(); }
    vtkProperty* FullProperty(CScanPos* model) const
    {
        vtkProperty* p = nullptr;
        model->GetActor()->GetLODProperty(kFullLevel, &p);
        return p;
    }
};

} // namespace

TEST_F(PropertiesTest, TheSampleModelIntensityRangeAndLookupTableApplied)
{
    // A copy: what the window applies is stored beside the model on closing.
    std::filesystem::copy(QUARLON_SAMPLE_DIR, dir.File("site"), std::filesystem::copy_options::recursive);
    Open(QString::fromStdString(dir.File("site/sampleModel.vtp")));
    CScanPos* model = First();
    ASSERT_NE(model, nullptr);
    model->SetRepresentation(10); // Surface RGB
    frame->GetView()->Render();
    Toggle();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_TRUE(app.MainFrame()->Action(cmd::RepresentationProperties)->isChecked());
    EXPECT_EQ(dlg->windowTitle(), "Model Properties - \"sampleModel\"");
    EXPECT_EQ(Control<QLabel>(1073)->text(), "Model has 307200 points");
    EXPECT_EQ(Control<QComboBox>(1013, GeometryPage())->currentText(), "Surface");
    EXPECT_EQ(Attributes(), (QStringList{"RGB", "Intensity", "Texture", "User defined"}));
    EXPECT_EQ(Control<QComboBox>(1007, ColorPage())->currentText(), "RGB");
    EXPECT_EQ(Enabled(), "000000") << "direct colours: nothing to set";

    // Intensity with colour map 0: Grayscale and the array's range.
    ChooseAttribute("Intensity");
    EXPECT_EQ(Enabled(), "011111");
    EXPECT_EQ(Control<QComboBox>(1012, ColorPage())->currentText(), "Grayscale");
    double range[2];
    ASSERT_TRUE(model::AttributeRange(*model, "Intensity", range));
    EXPECT_EQ(Control<QLineEdit>(1009, ColorPage())->text(), QString::asprintf("%.3f", range[0]));
    EXPECT_EQ(Control<QLineEdit>(1011, ColorPage())->text(), QString::asprintf("%.3f", range[1]));

    // Narrow the range with the slider's left thumb; the edits follow.
    Control<QTabWidget>(1004)->setCurrentIndex(1); // the "Color mode" page
    Settle(50);
    auto* slider = Control<CRangeSlider>(1010, ColorPage());
    ASSERT_TRUE(slider->isVisible());
    slider->repaint();
    const QPoint thumb = slider->LeftThumb().center();
    QTest::mousePress(slider, Qt::LeftButton, {}, thumb);
    QMouseEvent move(QEvent::MouseMove, thumb + QPoint(slider->TrackLength() / 2, 0), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, thumb + QPoint(slider->TrackLength() / 2, 0));
    double left, right;
    slider->GetRange(left, right);
    EXPECT_NEAR(left, (range[0] + range[1]) / 2, (range[1] - range[0]) / 20);
    EXPECT_EQ(Control<QLineEdit>(1009, ColorPage())->text(), QString::asprintf("%.3f", left));
    Control<QComboBox>(1012, ColorPage())->setCurrentIndex(2); // "Red - Blue"

    const QImage before = frame->GetView()->grabFramebuffer();
    Apply();
    Settle(100);
    EXPECT_EQ(model->GetActiveArrayName(), "Intensity");
    EXPECT_EQ(model->GetColorMap(), 2);
    EXPECT_EQ(model->GetRepresentation(), 12) << "Surface Intensity RedBlue";
    double applied[2];
    model->GetScalarRange(applied);
    EXPECT_NEAR(applied[0], left, 0.0006) << "the edits' three decimals";
    const QImage after = frame->GetView()->grabFramebuffer();
    ASSERT_EQ(before.size(), after.size());
    long changed = 0;
    for (int y = 0; y < after.height(); y += 4)
        for (int x = 0; x < after.width(); x += 4)
            changed += before.pixel(x, y) != after.pixel(x, y);
    EXPECT_GT(changed, (after.width() / 4) * (after.height() / 4) / 10) << "the view shows the new colouring";

    // Enter and Escape leave the window open; Close hides it.
    QTest::keyClick(dlg, Qt::Key_Escape);
    QTest::keyClick(dlg, Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    Control<QPushButton>(1006)->click();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(app.MainFrame()->Action(cmd::RepresentationProperties)->isChecked());
}

TEST_F(PropertiesTest, ChecksStopApplyBeforeAnyChange)
{
    Open(Model("i.vtp", {6, 5, true, {IntensityArray()}}));
    CScanPos* model = First();
    Toggle();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Attributes(), (QStringList{"Intensity", "User defined"}));
    ChooseAttribute("Intensity");
    vtkProperty* property = FullProperty(model);
    const int representation = property->GetRepresentation();
    Control<QComboBox>(1013, GeometryPage())->setCurrentIndex(0); // Points, not applied below
    struct Case {
        const char* min;
        const char* max;
        int lut;
        const char* message;
    } cases[] = {
        {"5", "5", 0, "Maximum intensity value must be greter than minimum value!"},
        {"abc", "5", 0, "Insert valid minimum intensity value!"},
        {"1", "1e3", 0, "Insert valid maximum intensity value!"},
        {"1", "5", -1, "Select the LUT (Lookup Table)!"},
    };
    for (const Case& c : cases) {
        Control<QLineEdit>(1009, ColorPage())->setText(c.min);
        Control<QLineEdit>(1011, ColorPage())->setText(c.max);
        Control<QComboBox>(1012, ColorPage())->setCurrentIndex(c.lut);
        Apply();
        EXPECT_EQ(prompt.messages.last(), c.message);
        EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Warning);
        EXPECT_EQ(property->GetRepresentation(), representation) << "nothing applied, not even the geometry";
    }
    Control<QComboBox>(1007, ColorPage())->setCurrentIndex(-1);
    Apply();
    EXPECT_EQ(prompt.messages.last(), "Select attribute!");
    Control<QComboBox>(1013, GeometryPage())->setCurrentIndex(-1);
    Apply();
    EXPECT_EQ(prompt.messages.last(), "Select representation type!");

    // A minimum typed below the scale: the slider stops at its end, Apply
    // takes the typed number.
    dlg->RefreshFromModel();
    ChooseAttribute("Intensity");
    double min, max;
    Control<CRangeSlider>(1010, ColorPage())->GetMinMax(min, max);
    Control<QLineEdit>(1009, ColorPage())->setText(QString::number(min - 50));
    Control<QLineEdit>(1009, ColorPage())->setFocus();
    Control<QLineEdit>(1011, ColorPage())->setFocus(); // the minimum loses the focus
    double left, right;
    Control<CRangeSlider>(1010, ColorPage())->GetRange(left, right);
    EXPECT_EQ(left, min);
    EXPECT_EQ(Control<QLineEdit>(1009, ColorPage())->text(), QString::number(min - 50)) << "the text stays as typed";
    const int messages = prompt.messages.size();
    Apply();
    EXPECT_EQ(prompt.messages.size(), messages) << prompt.messages.last().toStdString();
    double applied[2];
    model->GetScalarRange(applied);
    EXPECT_DOUBLE_EQ(applied[0], min - 50);
}

TEST_F(PropertiesTest, EachKindOfModelOffersWhatItHas)
{
    Open(Model("rgb.vtp", {4, 4, true, {RgbArray()}}));
    ASSERT_TRUE(frame->OpenInsideFile(Model("scan.vtp", {4, 4, true, {ConstantArray("scanpos", 2)}})));
    ASSERT_TRUE(frame->OpenInsideFile(Model("bare.vtp", {4, 4, true, {}})));
    CModelListDlg* list = frame->GetModelListDlg();
    ASSERT_NE(list, nullptr);
    // Three models and nothing selected: the list's message.
    Toggle();
    EXPECT_EQ(prompt.messages.last(), "Please select just one model from the \"Models List\" window!");
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->isVisible());
    auto rowOf = [&](const char* base) {
        for (int row = 0; row < list->List()->rowCount(); ++row)
            if (CScanPos* m = list->GetModelAt(row); m && m->GetPath().find(base) != std::string::npos)
                return row;
        return -1;
    };
    list->List()->selectRow(rowOf("bare.vtp"));
    Toggle();
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), "Model Properties - \"bare\"");
    EXPECT_EQ(Attributes(), QStringList{"User defined"});
    EXPECT_EQ(Enabled(), "100000") << "the colour button only";
    // "User defined" with a colour from the palette colours the model.
    auto* colour = Control<CColorButton>(1008, ColorPage());
    colour->SetColor(CColourPopup::TableColour(16)); // Rosso
    Apply();
    CScanPos* bare = dlg->GetModel();
    EXPECT_EQ(bare->GetColor(), 0x000000FFu);
    EXPECT_TRUE(bare->GetActiveArrayName().empty());

    // A click on another row re-targets the visible window; unapplied
    // changes go.
    Control<QComboBox>(1014, GeometryPage())->setCurrentIndex(2);
    const QRect cell = list->List()->visualRect(list->List()->model()->index(rowOf("scan.vtp"), 1));
    QTest::mouseClick(list->List()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(dlg->windowTitle(), "Model Properties - \"scan\"");
    EXPECT_EQ(Attributes(), (QStringList{"scanpos", "User defined"}));
    EXPECT_EQ(Control<QComboBox>(1014, GeometryPage())->currentIndex(),
              FullProperty(dlg->GetModel())->GetInterpolation());
    ChooseAttribute("scanpos");
    EXPECT_EQ(Enabled(), "000000");
    Apply();
    EXPECT_EQ(dlg->GetModel()->GetColorMap(), 2) << "scanpos through the RedBlue map";

    // Point sizes outside the list's items are clamped.
    FullProperty(dlg->GetModel())->SetPointSize(0.5);
    dlg->RefreshFromModel();
    EXPECT_EQ(Control<QComboBox>(1015, GeometryPage())->currentText(), "1 pix");
    FullProperty(dlg->GetModel())->SetPointSize(15);
    dlg->RefreshFromModel();
    EXPECT_EQ(Control<QComboBox>(1015, GeometryPage())->currentText(), "10 pix");

    // The shown model leaves the document: the window moves to the first
    // model; when none is left it hides.
    list->List()->clearSelection();
    list->List()->selectRow(rowOf("scan.vtp"));
    list->OnRemoveModels();
    Settle(50);
    ASSERT_TRUE(dlg->isVisible());
    ASSERT_NE(dlg->GetModel(), nullptr);
    EXPECT_EQ(dlg->GetModel(), First());
    EXPECT_EQ(dlg->windowTitle(), "Model Properties - \"rgb\"");
    EXPECT_EQ(Attributes(), (QStringList{"RGB", "User defined"}));
    EXPECT_EQ(Control<QComboBox>(1007, ColorPage())->currentText(), "RGB");
    EXPECT_EQ(Enabled(), "000000");
    frame->GetFrameDocument()->RemoveAllModels();
    Settle(50);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->GetModel(), nullptr);
    Apply(); // nothing to use, nothing used
}

TEST_F(PropertiesTest, TheWindowGoesAndComesWithItsDocument)
{
    Open(Model("a.vtp", {4, 4, true, {RgbArray()}}));
    CQuarlonFrame* a = frame;
    Toggle();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(dlg->isVisible());
    // Placed inside the view, below the toolbars.
    const QRect view(a->GetView()->mapToGlobal(QPoint(0, 0)), a->GetView()->size());
    EXPECT_GE(dlg->frameGeometry().top(), view.top());

    CQuarlonFrame* b = app.OpenDocumentFile(Model("b.vtp", {4, 4, true, {}}));
    ASSERT_NE(b, nullptr);
    Settle();
    EXPECT_FALSE(dlg->isVisible()) << "hidden while another document is active";
    EXPECT_FALSE(app.MainFrame()->Action(cmd::RepresentationProperties)->isChecked());
    auto sub = [](CQuarlonFrame* f) { return qobject_cast<QMdiSubWindow*>(f->parentWidget()); };
    app.MainFrame()->MdiArea()->setActiveSubWindow(sub(a));
    Settle();
    EXPECT_TRUE(dlg->isVisible()) << "shown again with its document";
    EXPECT_TRUE(app.MainFrame()->Action(cmd::RepresentationProperties)->isChecked());
    EXPECT_EQ(dlg->windowTitle(), "Model Properties - \"a\"");
    // The toolbar button is the same command.
    app.MainFrame()->Action(cmd::RepresentationProperties)->trigger();
    EXPECT_FALSE(dlg->isVisible());
}

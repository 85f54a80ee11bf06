#include "gui/exchange/CScanPosOptionsDlg.h"

#include "core/common/NumberChecks.h"
#include "core/common/Paths.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/IDocumentView.h"
#include "core/model/ModelSummary.h"
#include "gui/common/BusyGuard.h"
#include "gui/common/IModelView.h"
#include "gui/common/Prompts.h"
#include "gui/controls/CColorButton.h"
#include "gui/controls/CRangeSlider.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <vtkLODProp3D.h>
#include <vtkProperty.h>

#include <cmath>

namespace {

QString Id(int id) { return QStringLiteral("control%1").arg(id); }

QComboBox* List(QWidget* parent, int id)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(Id(id));
    return list;
}

QString Three(double v) { return QString::asprintf("%.3lf", v); }

vtkProperty* LevelProperty(CScanPos* model, int level)
{
    vtkLODProp3D* actor = model ? model->GetActor() : nullptr;
    vtkProperty* property = nullptr;
    if (actor)
        actor->GetLODProperty(level, &property);
    return property;
}

// Selects the item whose item value is `value`; none when no item has it.
void SelectValue(QComboBox* list, int value) { list->setCurrentIndex(list->findData(value)); }

// A text read as the dialog's edits are read: at most `capacity - 1`
// characters, then the program's number check.
bool ReadNumber(const QLineEdit* edit, int capacity, double* value)
{
    return IsDoubleString(edit->text().left(capacity - 1).toStdString(), value);
}

} // namespace

// ------------------------------------------------------------ geometry page

CScanPosOptionsGeometryTabDlg::CScanPosOptionsGeometryTabDlg(QWidget* parent)
    : QWidget(parent), m_representation(List(this, 1013)), m_interpolation(List(this, 1014)),
      m_pointSize(List(this, 1015)), m_lineWeight(List(this, 1016))
{
    setObjectName(QStringLiteral("CScanPosOptionsGeometryTabDlg"));
    m_representation->addItem(QStringLiteral("Points"), 0);
    m_representation->addItem(QStringLiteral("Wireframe"), 1);
    m_representation->addItem(QStringLiteral("Surface"), 2);
    m_interpolation->addItem(QStringLiteral("Flat"), 0);
    m_interpolation->addItem(QStringLiteral("Gouraud"), 1);
    m_interpolation->addItem(QStringLiteral("Phong"), 2);
    for (int i = 1; i <= 10; ++i) {
        m_pointSize->addItem(QString::asprintf("%d pix", i), i);
        m_lineWeight->addItem(QString::asprintf("%d pix", i), i);
    }
    for (QComboBox* list : {m_representation, m_interpolation, m_pointSize, m_lineWeight})
        list->setCurrentIndex(-1);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Representation:"), m_representation);
    form->addRow(QStringLiteral("Interpolation:"), m_interpolation);
    form->addRow(QStringLiteral("Point Size:"), m_pointSize);
    form->addRow(QStringLiteral("Line Weight:"), m_lineWeight);
}

void CScanPosOptionsGeometryTabDlg::SetModel(CScanPos* model)
{
    m_pModel = model;
    LoadFromModel();
}

void CScanPosOptionsGeometryTabDlg::LoadFromModel()
{
    vtkProperty* property = LevelProperty(m_pModel, kFullLevel);
    if (!property)
        return;
    const int representation = property->GetRepresentation();
    SelectValue(m_representation, representation >= 0 && representation <= 2 ? representation : 0);
    const int interpolation = property->GetInterpolation();
    SelectValue(m_interpolation, interpolation >= 0 && interpolation <= 2 ? interpolation : 0);
    auto index = [](double v) {
        const double t = std::isfinite(v) ? std::trunc(v) : 1.0;
        return static_cast<int>(std::min(10.0, std::max(1.0, t))) - 1;
    };
    m_pointSize->setCurrentIndex(index(property->GetPointSize()));
    m_lineWeight->setCurrentIndex(index(property->GetLineWidth()));
}

QString CScanPosOptionsGeometryTabDlg::CheckSettings() const
{
    if (m_representation->currentIndex() < 0)
        return QStringLiteral("Select representation type!");
    if (m_interpolation->currentIndex() < 0)
        return QStringLiteral("Select interpolation type!");
    if (m_pointSize->currentIndex() < 0)
        return QStringLiteral("Select point size!");
    if (m_lineWeight->currentIndex() < 0)
        return QStringLiteral("Select line weight!");
    return QString();
}

void CScanPosOptionsGeometryTabDlg::ApplySettings()
{
    if (!m_pModel || !m_pModel->GetActor())
        return;
    for (int level : {kFullLevel, kReducedLevel}) {
        vtkProperty* property = LevelProperty(m_pModel, level);
        if (!property)
            continue;
        if (m_representation->currentIndex() >= 0)
            property->SetRepresentation(m_representation->currentData().toInt());
        if (m_interpolation->currentIndex() >= 0)
            property->SetInterpolation(m_interpolation->currentData().toInt());
        if (m_pointSize->currentIndex() >= 0)
            property->SetPointSize(static_cast<float>(m_pointSize->currentIndex() + 1));
        if (m_lineWeight->currentIndex() >= 0)
            property->SetLineWidth(static_cast<float>(m_lineWeight->currentIndex() + 1));
    }
}

// -------------------------------------------------------------- colour page

CScanPosOptionsColorModeTabDlg::CScanPosOptionsColorModeTabDlg(QWidget* parent)
    : QWidget(parent), m_attribute(List(this, 1007)), m_color(new CColorButton(this)), m_min(new QLineEdit(this)),
      m_slider(new CRangeSlider(this)), m_max(new QLineEdit(this)), m_reset(new QPushButton(QStringLiteral("Reset"), this)),
      m_lut(List(this, 1012))
{
    setObjectName(QStringLiteral("CScanPosOptionsColorModeTabDlg"));
    m_color->setObjectName(Id(1008));
    m_min->setObjectName(Id(1009));
    m_slider->setObjectName(Id(1010));
    m_max->setObjectName(Id(1011));
    m_reset->setObjectName(Id(1006));
    m_reset->setAutoDefault(false);
    m_color->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    top->addRow(QStringLiteral("Attribute"), m_attribute);
    top->addRow(QStringLiteral("Property Color:"), m_color);
    layout->addLayout(top);
    auto* intensity = new QGroupBox(QStringLiteral("Intensity"), this);
    auto* grid = new QGridLayout(intensity);
    m_min->setMaximumWidth(90);
    m_max->setMaximumWidth(90);
    grid->addWidget(m_min, 0, 0);
    grid->addWidget(m_slider, 0, 1);
    grid->addWidget(m_max, 0, 2);
    grid->addWidget(m_reset, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(intensity);
    auto* lutRow = new QFormLayout;
    lutRow->addRow(QStringLiteral("LUT (LookUp Table):"), m_lut);
    layout->addLayout(lutRow);
    layout->addStretch();

    // Initialisation: the lookup tables, a unit range, then the model.
    m_lut->addItem(QStringLiteral("Grayscale"), 1);
    m_lut->addItem(QStringLiteral("Blu - Red"), 3);
    m_lut->addItem(QStringLiteral("Red - Blue"), 2);
    m_lut->setCurrentIndex(-1);
    m_min->setText(QStringLiteral("0"));
    m_max->setText(QStringLiteral("1"));
    m_slider->SetMinMax(0, 1);
    m_slider->SetRange(0, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{m_attribute, m_color, m_min, m_max, m_slider, m_reset, m_lut})
        w->setEnabled(false);

    connect(m_attribute, QOverload<int>::of(&QComboBox::activated), this, [this] { OnAttributeChanged(); });
    connect(m_reset, &QPushButton::clicked, this, &CScanPosOptionsColorModeTabDlg::OnReset);
    connect(m_slider, &CRangeSlider::rangeChanged, this, [this] { OnRangeChanged(); });
    m_min->installEventFilter(this);
    m_max->installEventFilter(this);
}

bool CScanPosOptionsColorModeTabDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_min)
            OnMinKillFocus();
        else if (watched == m_max)
            OnMaxKillFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void CScanPosOptionsColorModeTabDlg::SetModel(CScanPos* model)
{
    m_pModel = model;
    LoadFromModel();
}

QString CScanPosOptionsColorModeTabDlg::Attribute() const
{
    return m_attribute->currentIndex() >= 0 ? m_attribute->currentText() : QString();
}

void CScanPosOptionsColorModeTabDlg::LoadFromModel()
{
    if (!m_pModel || !m_pModel->GetActor())
        return;
    m_attribute->setEnabled(true);
    m_attribute->clear();
    for (const model::ArrayInfo& a : model::Summarize(*m_pModel).arrays)
        m_attribute->addItem(QString::fromStdString(a.name), 0);
    m_attribute->addItem(QString::fromLatin1(model::kUserDefined), -1);
    const QString active = QString::fromStdString(m_pModel->GetActiveArrayName());
    const int match = active.isEmpty() ? -1 : m_attribute->findText(active, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_attribute->setCurrentIndex(match >= 0 && match < m_attribute->count() - 1 ? match : m_attribute->count() - 1);
    OnAttributeChanged();
    m_color->SetColor(m_pModel->GetColor());
    double range[2];
    m_pModel->GetScalarRange(range);
    m_min->setText(Three(range[0]));
    m_max->setText(Three(range[1]));
    m_slider->SetMinMax(range[0], range[1]);
    m_slider->SetRange(range[0], range[1]);
    SelectValue(m_lut, m_pModel->GetColorMap());
}

void CScanPosOptionsColorModeTabDlg::OnAttributeChanged()
{
    const QString attribute = Attribute();
    const bool selected = !attribute.isEmpty();
    const model::AttributeClass kind = model::ClassOf(attribute.toStdString());
    const bool scalar = selected && kind == model::AttributeClass::Scalar;
    m_color->setEnabled(selected && kind == model::AttributeClass::Solid);
    for (QWidget* w : std::initializer_list<QWidget*>{m_min, m_max, m_slider, m_reset, m_lut})
        w->setEnabled(scalar);
    if (!scalar)
        return;
    if (m_pModel && m_pModel->GetColorMap() == 0)
        SelectValue(m_lut, 1); // "Grayscale"
    TakeAttributeRange();
}

void CScanPosOptionsColorModeTabDlg::TakeAttributeRange()
{
    double range[2];
    if (!m_pModel || !m_pModel->GetActor() || !model::AttributeRange(*m_pModel, Attribute().toStdString(), range))
        return;
    m_min->setText(Three(range[0]));
    m_max->setText(Three(range[1]));
    m_slider->SetMinMax(range[0], range[1]);
    m_slider->SetRange(range[0], range[1]);
}

void CScanPosOptionsColorModeTabDlg::OnReset()
{
    if (!Attribute().isEmpty())
        TakeAttributeRange();
}

void CScanPosOptionsColorModeTabDlg::OnRangeChanged()
{
    double left, right;
    m_slider->GetRange(left, right);
    m_min->setText(Three(left));
    m_max->setText(Three(right));
}

void CScanPosOptionsColorModeTabDlg::OnMinKillFocus() { TakeTypedEnd(true); }

void CScanPosOptionsColorModeTabDlg::OnMaxKillFocus() { TakeTypedEnd(false); }

void CScanPosOptionsColorModeTabDlg::TakeTypedEnd(bool lower)
{
    // The typed number, or else the scale's end, kept between the scale's
    // end and the interval's other end.
    double min, max, left, right, value;
    m_slider->GetMinMax(min, max);
    m_slider->GetRange(left, right);
    if (!ReadNumber(lower ? m_min : m_max, 128, &value))
        value = lower ? min : max;
    value = lower ? std::max(min, std::min(value, right)) : std::max(left, std::min(value, max));
    const QSignalBlocker quiet(m_slider); // the typed text stays as typed
    lower ? m_slider->SetRange(value, right) : m_slider->SetRange(left, value);
}

QString CScanPosOptionsColorModeTabDlg::CheckSettings() const
{
    const QString attribute = Attribute();
    if (attribute.isEmpty())
        return QStringLiteral("Select attribute!");
    if (model::ClassOf(attribute.toStdString()) != model::AttributeClass::Scalar)
        return QString();
    if (m_lut->currentIndex() < 0)
        return QStringLiteral("Select the LUT (Lookup Table)!");
    double min = 0, max = 0;
    if (!ReadNumber(m_min, 64, &min))
        return QStringLiteral("Insert valid minimum intensity value!");
    if (!ReadNumber(m_max, 64, &max))
        return QStringLiteral("Insert valid maximum intensity value!");
    if (!(max > min))
        return QStringLiteral("Maximum intensity value must be greter than minimum value!");
    return QString();
}

void CScanPosOptionsColorModeTabDlg::ApplySettings()
{
    const QString attribute = Attribute();
    if (!m_pModel || attribute.isEmpty())
        return;
    const std::string name = attribute.toStdString();
    const std::string lower = qpath::ToLower(name);
    switch (model::ClassOf(name)) {
    case model::AttributeClass::Direct:
        m_pModel->SetColorArray(name.c_str());
        m_pModel->SetColorMap(0);
        break;
    case model::AttributeClass::Solid:
        m_pModel->SetColorArray(nullptr);
        m_pModel->SetColor(m_color->GetColor() == kAutomaticColor ? m_color->GetDefaultColor() : m_color->GetColor());
        break;
    case model::AttributeClass::Special:
        m_pModel->SetColorArray(name.c_str());
        if (lower == "scanpos")
            m_pModel->SetColorMap(2);
        break;
    case model::AttributeClass::Scalar: {
        double range[2];
        if (m_lut->currentIndex() >= 0 && ReadNumber(m_min, 64, &range[0]) && ReadNumber(m_max, 64, &range[1]) &&
            range[1] > range[0]) {
            m_pModel->SetColorArray(name.c_str(), range);
            m_pModel->SetColorMap(m_lut->currentData().toInt());
        }
        break;
    }
    }
}

// ------------------------------------------------------------------ dialog

CScanPosOptionsDlg::CScanPosOptionsDlg(CScanPos* model, QWidget* parent)
    : CToolWindow(parent), m_tabs(new QTabWidget(this)), m_info(new QLabel(QStringLiteral("Info"), this)),
      m_pGeometry(new CScanPosOptionsGeometryTabDlg(m_tabs)), m_pColor(new CScanPosOptionsColorModeTabDlg(m_tabs))
{
    setObjectName(QStringLiteral("CScanPosOptionsDlg"));
    setWindowTitle(QStringLiteral("Representation Properties"));
    m_tabs->setObjectName(Id(1004));
    m_info->setObjectName(Id(1073));
    m_tabs->addTab(m_pGeometry, QStringLiteral("Geometry"));
    m_tabs->addTab(m_pColor, QStringLiteral("Color mode"));
    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    apply->setObjectName(Id(1005));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(Id(1006));
    for (QPushButton* b : {apply, close})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_info, 1);
    buttons->addWidget(apply);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);
    connect(apply, &QPushButton::clicked, this, &CScanPosOptionsDlg::OnApply);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);

    // Pages are filled before the model is known; the title waits for it.
    m_pModel = model;
    Watch(model);
    m_pGeometry->SetModel(model);
    m_pColor->SetModel(model);
    if (model && model->GetMapper(kFullLevel))
        m_info->setText(QStringLiteral("Model has %1 points").arg(model::Summarize(*model).points));
}

CScanPosOptionsDlg::~CScanPosOptionsDlg() { Watch(nullptr); }

void CScanPosOptionsDlg::Watch(CScanPos* model)
{
    CQuarlonDoc* document = model ? model->GetDocument() : nullptr;
    m_strModelPath = model ? model->GetPath() : std::string();
    if (document == m_pDocument)
        return;
    if (m_pDocument)
        m_pDocument->RemoveRemovalListener(m_nRemovalListener);
    m_pDocument = document;
    m_nRemovalListener = 0;
    if (m_pDocument)
        m_nRemovalListener =
            m_pDocument->AddRemovalListener([this](const std::string& path) { OnModelRemoved(path); });
}

void CScanPosOptionsDlg::OnModelRemoved(const std::string& path)
{
    if (!m_pModel || path != m_strModelPath)
        return;
    // The model is gone already: the pages must let go of it first.
    m_pModel = nullptr;
    m_pGeometry->SetModel(nullptr);
    m_pColor->SetModel(nullptr);
    CQuarlonDoc::Position pos = m_pDocument ? m_pDocument->GetFirstModelPosition() : CQuarlonDoc::Position();
    CScanPos* next = pos ? m_pDocument->GetNextModel(pos) : nullptr;
    if (next) {
        SetModel(next);
    } else {
        m_strModelPath.clear();
        hide();
    }
}

void CScanPosOptionsDlg::SetModel(CScanPos* model)
{
    m_pModel = model;
    Watch(model);
    if (model)
        RefreshFromModel();
}

void CScanPosOptionsDlg::RefreshFromModel()
{
    m_pGeometry->SetModel(m_pModel);
    m_pColor->SetModel(m_pModel);
    if (!m_pModel)
        return;
    if (m_pModel->GetMapper(kFullLevel))
        m_info->setText(QStringLiteral("Model has %1 points").arg(model::Summarize(*m_pModel).points));
    setWindowTitle(QStringLiteral("Model Properties - \"%1\"")
                       .arg(QString::fromStdString(m_pModel->GetScan() ? m_pModel->GetName()
                                                                       : qpath::Split(m_pModel->GetDiskPath()).base)));
}

void CScanPosOptionsDlg::OnApply()
{
    for (const QString& message : {m_pGeometry->CheckSettings(), m_pColor->CheckSettings()})
        if (!message.isEmpty()) {
            Prompt().Message(this, message, IPrompt::Icon::Warning);
            return;
        }
    m_pGeometry->ApplySettings();
    m_pColor->ApplySettings();
    if (!m_pModel)
        return;
    m_pModel->UpdateRepresentationIndex();
    CQuarlonDoc* document = m_pModel->GetDocument();
    if (IDocumentView* view = document ? document->GetView() : nullptr) {
        const CBusyGuard busy;
        if (auto* drawn = dynamic_cast<IModelView*>(view))
            drawn->Render();
        else
            view->Invalidate();
    }
}

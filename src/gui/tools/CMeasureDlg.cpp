#include "gui/tools/CMeasureDlg.h"
#include "gui/tools/CSnapChoice.h"

#include "core/common/SafeFile.h"
#include "core/measure/MeasureGeometry.h"
#include "core/model/CQuarlonDoc.h"
#include "gui/common/IModelView.h"
#include "gui/common/Prompts.h"
#include "gui/tools/CChooseMeasureDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <algorithm>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vtkCamera.h>
#include <vtkCaptionActor2D.h>
#include <vtkPolyData.h>
#include <vtkPolyDataAlgorithm.h>
#include <vtkSphereSource.h>
#include <vtkConeSource.h>
#include <vtkCubeSource.h>
#include <vtkProperty2D.h>
#include <vtkRenderer.h>
#include <vtkTextProperty.h>

#include <cstdio>
#include <cstdlib>

namespace {

const double kPink[3] = {1, 0.5, 1};
const double kGreen[3] = {0, 1, 0};

QString Fixed3(double v) { return QString::asprintf("%.3f", v); }

// Whether the marker's colour changed.
bool Colour(vtkCaptionActor2D* marker, const double rgb[3])
{
    const double* now = marker->GetProperty()->GetColor();
    if (now[0] == rgb[0] && now[1] == rgb[1] && now[2] == rgb[2])
        return false;
    marker->GetProperty()->SetColor(rgb[0], rgb[1], rgb[2]);
    marker->GetCaptionTextProperty()->SetColor(rgb[0], rgb[1], rgb[2]);
    return true;
}

} // namespace

CMeasureListCtrl::CMeasureListCtrl(QWidget* parent) : QTableWidget(0, 5, parent)
{
    setObjectName(QStringLiteral("m_listPoints"));
    setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"),
                               QStringLiteral("Snap")});
    for (int c = 0; c < 5; ++c)
        horizontalHeaderItem(c)->setTextAlignment(Qt::AlignCenter);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Click selects one row, Ctrl + click toggles, Shift + click extends.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void CMeasureListCtrl::resizeEvent(QResizeEvent* event)
{
    QTableWidget::resizeEvent(event);
    const int w = viewport()->width();
    // The coordinates in full first (a georeferenced y has eleven
    // characters), the Id as wide as its text, Snap the rest.
    const int id = fontMetrics().horizontalAdvance(QStringLiteral("00")) + 8;
    const int needed = fontMetrics().horizontalAdvance(QStringLiteral("5400000.000")) + 7;
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    const int snapped = QFontMetrics(small).horizontalAdvance(QStringLiteral("surface")) + 7;
    const int coordinate = std::max(needed, (w - id - snapped) / 3);
    setColumnWidth(0, id - 1);
    for (int c = 1; c < 4; ++c)
        setColumnWidth(c, coordinate - 1);
    setColumnWidth(4, std::max(1, w - id - 3 * coordinate - 1));
}

CMeasureDlg::CMeasureDlg(IModelView* view, QWidget* parent)
    : CToolWindow(parent), m_pView(view), m_listPoints(new CMeasureListCtrl(this)),
      m_btnShowPoints(new QCheckBox(QStringLiteral("Show Points On Model"), this)),
      m_editLength(MakeField("m_editLength")), m_editPerimeter(MakeField("m_editPerimeter")),
      m_editAreaPlane(MakeField("m_editAreaPlane")), m_editAreaView(MakeField("m_editAreaView")),
      m_editAreaXY(MakeField("m_editAreaXY"))
{
    for (QLineEdit* e : {m_editLength, m_editPerimeter, m_editAreaPlane, m_editAreaView, m_editAreaXY})
        e->setAlignment(Qt::AlignRight);
    setObjectName(QStringLiteral("CMeasureDlg"));
    setWindowTitle(QStringLiteral("Measure (SHIFT + Left Click)"));
    m_btnShowPoints->setObjectName(QStringLiteral("m_btnShowPoints"));
    m_listPoints->setMinimumHeight(8 * 18 + 26); // eight rows in sight
    m_btnShowPoints->setChecked(true);

    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(QLatin1String(text), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* selectAll = button("Select All", "selectAllButton");
    QPushButton* deleteSelected = button("Delete Selected", "deleteSelectedButton");
    QPushButton* deleteAll = button("Delete All", "deleteAllButton");
    QPushButton* copy = button("Copy", "copyButton");
    QPushButton* save = button("Save Measures", "saveMeasuresButton");
    QPushButton* open = button("Open Measures", "openMeasuresButton");
    QPushButton* close = button("Close", "closeButton");
    close->setDefault(true);

    auto* points = new QGroupBox(QStringLiteral("Points"), this);
    auto* pointsLayout = new QVBoxLayout(points);
    pointsLayout->addWidget(m_listPoints);
    // The snap choice beside the check box: the tool keeps its height.
    auto* showAndSnap = new QHBoxLayout;
    showAndSnap->addWidget(m_btnShowPoints);
    showAndSnap->addWidget(new CSnapChoice(points), 1);
    pointsLayout->addLayout(showAndSnap);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* b : {selectAll, deleteSelected, deleteAll, copy})
        listButtons->addWidget(b);
    pointsLayout->addLayout(listButtons);

    auto* lengths = new QGroupBox(QStringLiteral("Length (du)"), this);
    auto* lengthGrid = new QGridLayout(lengths);
    lengthGrid->addWidget(new QLabel(QStringLiteral("Length:"), lengths), 0, 0);
    lengthGrid->addWidget(m_editLength, 0, 1);
    lengthGrid->addWidget(new QLabel(QStringLiteral("Perimeter:"), lengths), 1, 0);
    lengthGrid->addWidget(m_editPerimeter, 1, 1);

    auto* areas = new QGroupBox(QStringLiteral("Area (du^2)"), this);
    auto* areaGrid = new QGridLayout(areas);
    areaGrid->addWidget(new QLabel(QStringLiteral("Interpolated plane:"), areas), 0, 0);
    areaGrid->addWidget(m_editAreaPlane, 0, 1);
    areaGrid->addWidget(new QLabel(QStringLiteral("Current view plane:"), areas), 1, 0);
    areaGrid->addWidget(m_editAreaView, 1, 1);
    areaGrid->addWidget(new QLabel(QStringLiteral("XY plane:"), areas), 2, 0);
    areaGrid->addWidget(m_editAreaXY, 2, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(save);
    bottom->addWidget(open);
    bottom->addStretch(1);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(points, 1);
    layout->addWidget(lengths);
    layout->addWidget(areas);
    layout->addLayout(bottom);
    resize(360, 480);

    connect(m_listPoints, &QTableWidget::itemSelectionChanged, this, &CMeasureDlg::UpdateMeasures);
    connect(m_btnShowPoints, &QCheckBox::toggled, this, &CMeasureDlg::OnShowPoints);
    connect(selectAll, &QPushButton::clicked, this, &CMeasureDlg::OnSelectAll);
    connect(deleteSelected, &QPushButton::clicked, this, &CMeasureDlg::OnDeleteSelected);
    connect(deleteAll, &QPushButton::clicked, this, &CMeasureDlg::OnDeleteAll);
    connect(copy, &QPushButton::clicked, this, &CMeasureDlg::OnCopy);
    connect(save, &QPushButton::clicked, this, &CMeasureDlg::OnSaveMeasures);
    connect(open, &QPushButton::clicked, this, &CMeasureDlg::OnOpenMeasures);
    connect(close, &QPushButton::clicked, this, &CMeasureDlg::accept);
    LoadMeasureFile();
}

CMeasureDlg::~CMeasureDlg()
{
    vtkRenderer* renderer = m_pView ? m_pView->GetOverlayRenderer() : nullptr;
    for (const auto& marker : m_markers)
        if (renderer && marker)
            renderer->RemoveActor2D(marker);
}

QString CMeasureDlg::FieldText(const char* objectName) const
{
    const auto* edit = findChild<QLineEdit*>(QLatin1String(objectName));
    return edit ? edit->text() : QString();
}

vtkCaptionActor2D* CMeasureDlg::Marker(int row) const
{
    return row >= 0 && row < static_cast<int>(m_markers.size()) ? m_markers[static_cast<size_t>(row)].Get() : nullptr;
}

QString CMeasureDlg::RowText(int row, int column) const
{
    const QTableWidgetItem* item = m_listPoints->item(row, column);
    return item ? item->text() : QString();
}

int CMeasureDlg::AppendRow(const QString& id, const double point[3], const char* snapped)
{
    // The marker sits at the point in render coordinates.
    double offset[3] = {0, 0, 0};
    if (m_pView && m_pView->GetDocument())
        m_pView->GetDocument()->GetOffset(offset);
    for (int i = 0; i < 3; ++i)
        m_ptPicked[i] = point[i];
    auto marker = vtkSmartPointer<vtkCaptionActor2D>::New();
    marker->SetAttachmentPoint(point[0] - offset[0], point[1] - offset[1], point[2] - offset[2]);
    marker->ThreeDimensionalLeaderOn();
    marker->SetWidth(0.027);
    marker->SetHeight(0.02);
    marker->SetCaption(("p_" + id).toUtf8().constData());
    Colour(marker, kPink);
    marker->GetCaptionTextProperty()->SetFontFamilyToArial();

    const QSignalBlocker quiet(m_listPoints); // the row is complete before anything recomputes
    const int row = m_listPoints->rowCount();
    m_listPoints->insertRow(row);
    const QString texts[5] = {id, Fixed3(point[0]), Fixed3(point[1]), Fixed3(point[2]), QString::fromLatin1(snapped)};
    for (int c = 0; c < 5; ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        if (c == 4 && !texts[c].isEmpty()) {
            // A smaller type: the coordinates keep the room they need.
            QFont small = m_listPoints->font();
            small.setPointSizeF(small.pointSizeF() * 0.8);
            item->setFont(small);
            item->setToolTip(QStringLiteral("The pick snapped to a %1").arg(texts[c]));
        }
        item->setTextAlignment(Qt::AlignCenter);
        m_listPoints->setItem(row, c, item);
    }
    m_markers.push_back(marker);
    // Drawn by the recomputation that follows every insertion: one picture
    // per pick or per opened measure, which counts on a large model.
    if (m_pView && m_pView->GetOverlayRenderer())
        m_pView->GetOverlayRenderer()->AddActor2D(marker);
    m_bMarkersChanged = true;
    return row;
}

void CMeasureDlg::MarkSnap(int row, const char* snapped)
{
    // The marker's leader ends in a shape that says what the pick took:
    // a cube at a corner, a cone on an edge, a sphere on a surface or point.
    vtkCaptionActor2D* marker = Marker(row);
    const std::string kind = snapped ? snapped : "";
    if (!marker || kind.empty() || kind == "depth")
        return;
    vtkSmartPointer<vtkPolyDataAlgorithm> glyph;
    if (kind == "vertex")
        glyph = vtkSmartPointer<vtkCubeSource>::New();
    else if (kind == "edge")
        glyph = vtkSmartPointer<vtkConeSource>::New();
    else
        glyph = vtkSmartPointer<vtkSphereSource>::New();
    glyph->Update();
    marker->SetLeaderGlyphData(glyph->GetOutput());
    marker->SetLeaderGlyphSize(0.03);
    marker->SetMaximumLeaderGlyphSize(14);
}

void CMeasureDlg::RemoveRow(int row)
{
    if (row < 0 || row >= m_listPoints->rowCount())
        return;
    if (vtkCaptionActor2D* marker = Marker(row))
        if (m_pView && m_pView->GetOverlayRenderer())
            m_pView->GetOverlayRenderer()->RemoveActor2D(marker);
    m_markers.erase(m_markers.begin() + row);
    m_listPoints->removeRow(row);
    m_bMarkersChanged = true;
}

void CMeasureDlg::RedrawMarkers()
{
    m_bMarkersChanged = false;
    if (m_pView)
        m_pView->Render();
}

void CMeasureDlg::AddPickedPoint(const double point[3], const char* snapped)
{
    const int rows = m_listPoints->rowCount();
    const QString id = rows == 0 ? QStringLiteral("0") : QString::number(std::atoi(RowText(rows - 1, 0).toLatin1()) + 1);
    const int row = AppendRow(id, point, snapped);
    MarkSnap(row, snapped);
    if (!m_btnShowPoints->isChecked())
        m_markers[static_cast<size_t>(row)]->VisibilityOff();
    m_listPoints->scrollToItem(m_listPoints->item(row, 0));
    OnSelectAll();
}

void CMeasureDlg::UpdateMeasures()
{
    // Every figure comes from the list texts, as the user reads them.
    m_arrPoints.clear();
    QList<int> selected;
    for (const QModelIndex& index : m_listPoints->selectionModel()->selectedRows())
        selected << index.row();
    for (int row = 0; row < m_listPoints->rowCount(); ++row) {
        const bool on = selected.contains(row);
        if (on)
            m_arrPoints.push_back({std::atof(RowText(row, 1).toLatin1()), std::atof(RowText(row, 2).toLatin1()),
                                   std::atof(RowText(row, 3).toLatin1())});
        if (vtkCaptionActor2D* marker = Marker(row))
            m_bMarkersChanged |= Colour(marker, on ? kGreen : kPink);
    }
    double viewNormal[3] = {0, 0, 1};
    const bool hasCamera = m_pView && m_pView->GetRenderer() && m_pView->GetRenderer()->GetActiveCamera();
    if (hasCamera)
        m_pView->GetRenderer()->GetActiveCamera()->GetViewPlaneNormal(viewNormal);
    const measure::Figures f = measure::Compute(m_arrPoints, hasCamera ? viewNormal : nullptr);
    m_editLength->setText(Fixed3(f.length));
    m_editPerimeter->setText(Fixed3(f.perimeter));
    m_editAreaPlane->setText(Fixed3(f.areaPlane));
    m_editAreaView->setText(Fixed3(f.areaView));
    m_editAreaXY->setText(Fixed3(f.areaXY));
    if (f.hasPlane) {
        for (int i = 0; i < 3; ++i)
            m_vPlaneNormal[i] = f.planeNormal[i];
        // How far the points lie from the plane the area is measured on.
        m_editAreaPlane->setToolTip(QStringLiteral("fit RMS %1 du").arg(Fixed3(f.flatnessRms)));
    } else {
        m_editAreaPlane->setToolTip(QString());
    }
    // A picture of a large model takes long: only when the markers changed
    // (not after every button release, nor twice for one pick).
    if (m_bMarkersChanged)
        RedrawMarkers();
}

void CMeasureDlg::OnSelectAll()
{
    m_listPoints->selectAll();
    UpdateMeasures();
}

void CMeasureDlg::OnDeleteSelected()
{
    if (m_listPoints->selectionModel()->selectedRows().isEmpty()) {
        Prompt().Message(this, QStringLiteral("Select the points to remove!"), IPrompt::Icon::Warning);
        return;
    }
    if (!Prompt().AskYesNo(this, QStringLiteral("Erase the selected points?")))
        return;
    const QSignalBlocker quiet(m_listPoints); // deleting does not recompute
    for (;;) {
        const QModelIndexList rows = m_listPoints->selectionModel()->selectedRows();
        if (rows.isEmpty())
            break;
        int first = rows.first().row();
        for (const QModelIndex& i : rows)
            first = std::min(first, i.row());
        RemoveRow(first);
    }
    RedrawMarkers();
}

void CMeasureDlg::OnDeleteAll()
{
    if (!Prompt().AskYesNo(this, QStringLiteral("Erase all points listed?")))
        return;
    {
        const QSignalBlocker quiet(m_listPoints);
        while (m_listPoints->rowCount() > 0)
            RemoveRow(m_listPoints->rowCount() - 1);
    }
    // No point, no figure: every field shows what nothing measures.
    for (QLineEdit* e : {m_editLength, m_editPerimeter, m_editAreaPlane, m_editAreaView, m_editAreaXY})
        e->setText(QStringLiteral("0.000"));
    m_editAreaPlane->setToolTip(QString());
    RedrawMarkers();
}

void CMeasureDlg::OnCopy()
{
    QString text;
    for (int row = 0; row < m_listPoints->rowCount(); ++row) {
        if (!m_listPoints->selectionModel()->isRowSelected(row, QModelIndex()))
            continue;
        // Id and coordinates, as they were copied before picks snapped.
        for (int c = 0; c < 4; ++c)
            text += RowText(row, c) + (c + 1 < 4 ? QStringLiteral("\t") : QStringLiteral("\n"));
    }
    if (text.isEmpty())
        return;
    QClipboard* clipboard = QApplication::clipboard();
    if (!clipboard) {
        Prompt().Message(this, QStringLiteral("Unable to copy selected items!"), IPrompt::Icon::Warning);
        return;
    }
    clipboard->setText(text);
}

void CMeasureDlg::OnShowPoints()
{
    for (const auto& marker : m_markers)
        marker->SetVisibility(m_btnShowPoints->isChecked() ? 1 : 0);
    RedrawMarkers();
}

void CMeasureDlg::LoadMeasureFile()
{
    const std::string documentPath = m_pView && m_pView->GetDocument() ? m_pView->GetDocument()->GetPathName() : "";
    m_strMeasureFile = measure::MeasureFilePath(documentPath);
    std::string why;
    std::vector<measure::MeasureDamage> damaged;
    if (!measure::ReadMeasureFile(m_strMeasureFile, m_mapMeasures, &why, &damaged))
        damaged.push_back({std::string(), why});
    if (damaged.empty())
        return;
    // Told once, after opening: what loaded is whole, the rest is named.
    QStringList lines;
    for (const measure::MeasureDamage& d : damaged)
        lines << (d.name.empty() ? QString::fromStdString(safefile::Printable(d.why))
                                 : QStringLiteral("\"%1\": %2").arg(QString::fromStdString(safefile::Printable(d.name)),
                                                                     QString::fromStdString(d.why)));
    QMetaObject::invokeMethod(
        this,
        [this, lines] {
            Prompt().Message(this,
                             QStringLiteral("The measure file %1 is damaged:\n%2")
                                 .arg(QString::fromStdString(m_strMeasureFile), lines.join(QLatin1Char('\n'))),
                             IPrompt::Icon::Warning);
        },
        Qt::QueuedConnection);
}

void CMeasureDlg::OnSaveMeasures()
{
    if (m_listPoints->rowCount() == 0) {
        Prompt().Message(this, QStringLiteral("The list doesn't contain any point!"), IPrompt::Icon::Warning);
        return;
    }
    if (m_listPoints->selectionModel()->selectedRows().isEmpty()) {
        Prompt().Message(this, QStringLiteral("No point selected!"), IPrompt::Icon::Warning);
        return;
    }
    CChooseMeasureDlg choose(&m_mapMeasures, CChooseMeasureDlg::Save, this);
    if (choose.exec() != QDialog::Accepted || choose.GetName().isEmpty())
        return;
    std::string text;
    for (int row = 0; row < m_listPoints->rowCount(); ++row)
        if (m_listPoints->selectionModel()->isRowSelected(row, QModelIndex()))
            text += measure::PointLine(RowText(row, 0).toStdString(), RowText(row, 1).toStdString(),
                                       RowText(row, 2).toStdString(), RowText(row, 3).toStdString()) +
                    "\n";
    m_mapMeasures[choose.GetName().toStdString()] = text;
    // The file is replaced only by a complete new one: a failure keeps
    // every measure stored before.
    if (!measure::WriteMeasureFile(m_strMeasureFile, m_mapMeasures)) {
        Prompt().Message(this, QStringLiteral("Unable to save the measure!"), IPrompt::Icon::Warning);
        return;
    }
    Prompt().Message(this, QStringLiteral("Process completed."), IPrompt::Icon::Information);
}

void CMeasureDlg::OnOpenMeasures()
{
    if (m_mapMeasures.empty()) {
        Prompt().Message(this, QStringLiteral("No measure saved for this model!"), IPrompt::Icon::Warning);
        return;
    }
    CChooseMeasureDlg choose(&m_mapMeasures, CChooseMeasureDlg::Load, this);
    if (choose.exec() != QDialog::Accepted || choose.GetName().isEmpty())
        return;
    const auto found = m_mapMeasures.find(choose.GetName().toStdString());
    if (found == m_mapMeasures.end()) {
        Prompt().Message(this, QStringLiteral("Unable to find the specified measure!"), IPrompt::Icon::Warning);
        return;
    }
    std::vector<measure::MeasurePointsData> records;
    std::string why;
    if (!measure::ParseMeasure(found->second, records, &why)) {
        Prompt().Message(this, QStringLiteral("Unable to load the measure: %1.").arg(QString::fromStdString(why)),
                         IPrompt::Icon::Warning);
        return;
    }
    {
        const QSignalBlocker quiet(m_listPoints);
        while (m_listPoints->rowCount() > 0)
            RemoveRow(m_listPoints->rowCount() - 1);
    }
    for (const measure::MeasurePointsData& r : records) {
        const double p[3] = {r.x, r.y, r.z};
        AppendRow(QString::number(r.nId), p);
    }
    OnSelectAll();
}


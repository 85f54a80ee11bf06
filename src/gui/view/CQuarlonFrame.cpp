#include "gui/view/CQuarlonFrame.h"

#include "core/formats/ForeignModel.h"

#include "gui/view/CInputValueDlg.h"
#include "gui/view/CQuarlonView.h"
#include "gui/common/Commands.h"
#include "core/exchange/MergeExport.h"
#include "core/model/TextureCut.h"
#include "gui/common/BusyGuard.h"
#include "gui/common/Prompts.h"
#include "core/common/AppSettings.h"
#include "gui/controls/CVTKListenerDlg.h"
#include "gui/exchange/CASCIIExportDlg.h"
#include "gui/exchange/CModelListDlg.h"
#include "gui/exchange/CScanPosOptionsDlg.h"
#include "gui/tools/CMeasureDlg.h"
#include "gui/tools/CScaleDlg.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"

#include <QApplication>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QCloseEvent>
#include <QFileInfo>
#include <QVBoxLayout>

#include <vtkCaptionActor2D.h>
#include <vtkRenderWindow.h>

#include <algorithm>

namespace {
const char* const kOneModelMessage = "Please select just one model from the \"Models List\" window!";
}

CQuarlonFrame::CQuarlonFrame(QWidget* parent)
    : QWidget(parent), m_pDocument(std::make_unique<CQuarlonDoc>()), m_pView(new CQuarlonView(this))
{
    setObjectName(QStringLiteral("CQuarlonFrame"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pView);
    m_pView->SetDocument(m_pDocument.get());
    m_pView->SetTools(this);
    m_pDocument->SetView(m_pView);
    m_pDocument->SetProgressFactory([] { return std::make_unique<CVTKListenerDlg>(); });
    connect(m_pView, &CQuarlonView::modelListRefreshRequested, this, &CQuarlonFrame::RefreshModelList);
    // The measuring tools exist, hidden, for the frame's whole life.
    m_pMeasureDlg = new CMeasureDlg(m_pView, this);
    m_pMeasureDlg->hide();
    m_pScaleDlg = new CScaleDlg(m_pView, this);
    m_pScaleDlg->hide();
    connect(m_pScaleDlg, &CScaleDlg::captionsHidden, this, [this] { ShowScaleCaptions(false); });
    connect(m_pMeasureDlg, &CMeasureDlg::visibilityChanged, this, &CQuarlonFrame::statusCountsChanged);
    connect(m_pScaleDlg, &CScaleDlg::visibilityChanged, this, &CQuarlonFrame::statusCountsChanged);
}

CQuarlonFrame::~CQuarlonFrame()
{
    // The next view starts with the projection of the last one closed.
    appsettings::WriteSetting("Quarlon", "PerspectiveView", std::to_string(m_pView->GetProjectionMode()));
    // Models leave the renderer before the view goes; the windows that
    // point at them go first.
    delete m_pPropertiesDlg;
    m_pPropertiesDlg = nullptr;
    delete m_pModelListDlg;
    m_pModelListDlg = nullptr;
    delete m_pMeasureDlg; // its markers leave the view
    m_pMeasureDlg = nullptr;
    delete m_pScaleDlg;
    m_pScaleDlg = nullptr;
    m_pDocument->OnCloseDocument();
    m_pDocument.reset();
}

bool CQuarlonFrame::OpenDocument(const QString& path)
{
    const CBusyGuard busy;
    if (!m_pDocument->OnOpenDocument(path.toStdString()))
        return false;
    // The stored measures sit beside the file the document came from.
    m_pMeasureDlg->LoadMeasureFile();
    return true;
}

bool CQuarlonFrame::IsMeasureVisible() const { return m_pMeasureDlg && m_pMeasureDlg->isVisible(); }
bool CQuarlonFrame::IsScaleVisible() const { return m_pScaleDlg && m_pScaleDlg->isVisible(); }

void CQuarlonFrame::OnMeasurePoint(const double point[3])
{
    if (m_pMeasureDlg)
        m_pMeasureDlg->AddPickedPoint(point);
}

void CQuarlonFrame::OnSnappedMeasurePoint(const double point[3], const char* snapped)
{
    if (m_pMeasureDlg)
        m_pMeasureDlg->AddPickedPoint(point, snapped);
}

void CQuarlonFrame::OnScalePoint(int which, const double point[3], double length)
{
    if (m_pScaleDlg)
        m_pScaleDlg->SetPoint(which, point, length);
}

void CQuarlonFrame::OnButtonUp()
{
    if (IsMeasureVisible())
        m_pMeasureDlg->UpdateMeasures();
}

void CQuarlonFrame::ShowScaleCaptions(bool show)
{
    m_pView->GetCaptionPt1()->SetVisibility(show && m_pScaleDlg->HasPoint(1));
    m_pView->GetCaptionPt2()->SetVisibility(show && m_pScaleDlg->HasPoint(2));
    m_pView->Render();
}

void CQuarlonFrame::OnMeasure()
{
    if (IsMeasureVisible()) {
        m_pMeasureDlg->hide();
        return;
    }
    if (IsScaleVisible()) {
        m_pScaleDlg->hide();
        ShowScaleCaptions(false);
    }
    ShowToolWindow(m_pMeasureDlg, m_bMeasurePlaced);
}

void CQuarlonFrame::OnScaleModel()
{
    if (IsScaleVisible()) {
        m_pScaleDlg->hide();
        ShowScaleCaptions(false);
        return;
    }
    ShowToolWindow(m_pScaleDlg, m_bScalePlaced);
    ShowScaleCaptions(true);
    if (IsMeasureVisible())
        m_pMeasureDlg->hide();
}

void CQuarlonFrame::ShowToolWindow(QWidget* window, bool& placed)
{
    // Some window managers place the client area where it was asked and
    // add the title bar above it, over the toolbars: allow for a title bar
    // at first, then correct by the real frame once it is known.
    const bool first = !placed && m_pView->isVisible();
    // Every tool window keeps to the view's right edge, where the models list
    // is, so that none covers the model the view centres: the others go
    // below the list, or beside it where the view is too short.
    const QPoint corner = m_pView->mapToGlobal(QPoint(m_pView->width(), 0));
    if (first) {
        const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
        // Not shown yet: its size is what its layout will make it.
        const int width = std::max(window->width(), window->minimumSizeHint().width());
        const int height = std::max(window->height(), window->minimumSizeHint().height());
        int x = corner.x() - (width + 1), y = corner.y() + title;
        if (window != m_pModelListDlg && m_pModelListDlg && m_pModelListDlg->isVisible()) {
            // The first place that leaves the list and the view's centre free:
            // below the list, the bottom right corner, beside the list, the
            // left edge.
            const QRect list = m_pModelListDlg->frameGeometry();
            const QRect view(m_pView->mapToGlobal(QPoint(0, 0)), m_pView->size());
            const QPoint places[] = {{x, list.bottom() + 4 + title},
                                     {x, view.bottom() - height},
                                     {list.left() - (width + 4), y},
                                     {view.left() + 1, y}};
            for (const QPoint& at : places) {
                const QRect frame(at.x(), at.y() - title, width, height + title);
                if (!frame.intersects(list) && !frame.contains(view.center()) && frame.bottom() <= view.bottom() + title) {
                    x = at.x(), y = at.y();
                    break;
                }
                x = view.left() + 1, y = corner.y() + title; // none: the left edge
            }
        }
        window->move(x, y);
        placed = true;
    }
    window->showNormal();
    if (first) {
        QPointer<QWidget> guard(window);
        const int top = corner.y();
        QTimer::singleShot(150, window, [guard, top] {
            if (guard && guard->isVisible() && guard->frameGeometry().top() < top)
                guard->move(guard->x(), guard->y() + top - guard->frameGeometry().top());
        });
    }
}

bool CQuarlonFrame::OpenInsideFile(const QString& path)
{
    const CBusyGuard busy;
    // Model files by exactly these extensions, case included; other
    // programs' formats in either case (scanners often write ".LAS").
    const QString suffix = QFileInfo(path).suffix();
    if (suffix != QLatin1String("vtp") && suffix != QLatin1String("pvtp") && suffix != QLatin1String("vtk") &&
        !foreign::IsForeignExtension("." + suffix.toLower().toStdString()))
        return false;
    const size_t failuresBefore = m_pDocument->GetLoadFailures().size();
    const size_t notesBefore = m_pDocument->GetLoadNotes().size();
    if (!m_pDocument->AddModel(path.toStdString())) {
        const auto& failures = m_pDocument->GetLoadFailures();
        TellLoadFailure(this, path, failures.size() > failuresBefore ? failures.back().second : std::string());
        return false;
    }
    // Scans of the file that failed or were cut short while others loaded.
    std::vector<std::pair<std::string, std::string>> problems(m_pDocument->GetLoadFailures().begin() + failuresBefore,
                                                              m_pDocument->GetLoadFailures().end());
    problems.insert(problems.end(), m_pDocument->GetLoadNotes().begin() + notesBefore, m_pDocument->GetLoadNotes().end());
    TellScanProblems(this, path, problems);
    if (m_pDocument->GetModelCount() > 1) {
        CreateModelListDlg();
        ShowModelList();
    }
    return true;
}

bool CQuarlonFrame::ReloadModel(const QString& path)
{
    const CBusyGuard busy;
    CScanPos* old = m_pDocument->FindModel(path.toStdString());
    if (!old)
        return false;
    m_pDocument->RemoveModel(old);
    // The list lets go of the old model before loading pumps events.
    if (m_pModelListDlg)
        m_pModelListDlg->FillFromDocument();
    m_pDocument->AddModel(path.toStdString());
    RefreshModelList();
    emit statusCountsChanged();
    m_pView->Render();
    return true;
}

void CQuarlonFrame::RefreshModelList()
{
    // The document asks after each model it adds; the list is made on demand.
    CreateModelListDlg();
    if (m_pModelListDlg)
        m_pModelListDlg->FillFromDocument();
}

bool CQuarlonFrame::CreateModelListDlg()
{
    if (m_pModelListDlg)
        return false;
    m_pModelListDlg = new CModelListDlg(m_pView, this);
    connect(m_pModelListDlg, &CModelListDlg::addRequested, this, &CQuarlonFrame::OnOpenInside);
    connect(m_pModelListDlg, &CModelListDlg::modelsChanged, this, &CQuarlonFrame::statusCountsChanged);
    connect(m_pModelListDlg, &CModelListDlg::visibilityChanged, this, &CQuarlonFrame::statusCountsChanged);
    // A click on a model's row shows that model in visible properties.
    connect(m_pModelListDlg, &CModelListDlg::modelClicked, this, [this](CScanPos* model) {
        if (m_pPropertiesDlg && m_pPropertiesDlg->isVisible() && model)
            m_pPropertiesDlg->SetModel(model);
    });
    m_pModelListDlg->FillFromDocument();
    return true;
}

void CQuarlonFrame::ShowModelList()
{
    if (!m_pModelListDlg || m_pModelListDlg->isVisible())
        return;
    // The list is made while the document loads, before the view has its
    // place on screen, and while another document window may be active: it
    // appears once its own view is on screen and its document is active.
    if (!m_pView->isVisible() || !m_bToolsShown) {
        m_bListPending = true;
        m_bListWasShown = true;
        return;
    }
    m_bListPending = false;
    // Its top-right corner meets the view's, inside the view's area.
    ShowToolWindow(m_pModelListDlg, m_bListPlaced);
}

void CQuarlonFrame::closeEvent(QCloseEvent* event)
{
    // Closing while a load runs would delete the document under it.
    if (CBusyGuard::DeferClose(parentWidget() ? parentWidget() : this)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void CQuarlonFrame::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_bListPending)
        QMetaObject::invokeMethod(this, [this] { ShowModelList(); }, Qt::QueuedConnection);
}

void CQuarlonFrame::SetToolWindowsShown(bool shown)
{
    if (shown == m_bToolsShown)
        return;
    m_bToolsShown = shown;
    if (!shown) {
        m_bMeasureWasShown = IsMeasureVisible();
        m_bScaleWasShown = IsScaleVisible();
        m_bPropertiesWasShown = m_pPropertiesDlg && m_pPropertiesDlg->isVisible();
        m_pMeasureDlg->hide();
        m_pScaleDlg->hide();
        if (m_pPropertiesDlg)
            m_pPropertiesDlg->hide();
    } else {
        if (m_bMeasureWasShown)
            m_pMeasureDlg->show();
        if (m_bScaleWasShown)
            m_pScaleDlg->show();
        if (m_bPropertiesWasShown && m_pPropertiesDlg && m_pPropertiesDlg->GetModel())
            m_pPropertiesDlg->show();
    }
    if (!m_pModelListDlg)
        return;
    if (!shown) {
        m_bListWasShown = m_pModelListDlg->isVisible() || m_bListPending;
        m_pModelListDlg->hide();
    } else if (m_bListWasShown) {
        ShowModelList();
    }
}

CScanPos* CQuarlonFrame::ChooseOneModel()
{
    const int count = m_pDocument->GetModelCount();
    if (count == 0)
        return nullptr;
    if (count == 1) {
        CQuarlonDoc::Position pos = m_pDocument->GetFirstModelPosition();
        return m_pDocument->GetNextModel(pos);
    }
    CreateModelListDlg();
    if (!m_pModelListDlg)
        return nullptr;
    ShowModelList();
    const QList<int> rows = m_pModelListDlg->List()->SelectedRows();
    if (rows.size() != 1) {
        Prompt().Message(this, QString::fromLatin1(kOneModelMessage), IPrompt::Icon::Information);
        return nullptr;
    }
    return m_pModelListDlg->GetModelAt(rows.first());
}

bool CQuarlonFrame::OnCommand(int id)
{
    const int preset = cmd::PresetOf(id);
    if (preset >= 0) {
        m_pView->SetPresetView(preset);
        return true;
    }
    const int representation = cmd::RepresentationOf(id);
    if (representation >= 0) {
        OnFastSwitch(representation);
        return true;
    }
    switch (id) {
    case cmd::PerspectiveView: m_pView->SetProjectionMode(m_pView->GetProjectionMode() == 1 ? 0 : 1); return true;
    case cmd::StereoAnaglyph: OnStereo(VTK_STEREO_ANAGLYPH); return true;
    case cmd::StereoRedBlue: OnStereo(VTK_STEREO_RED_BLUE); return true;
    case cmd::BackfaceCulling:
        m_pDocument->SetBackfaceCulling(!m_pDocument->GetBackfaceCulling());
        m_pView->Render();
        return true;
    case cmd::BackgroundColor: OnBackgroundColor(); return true;
    case cmd::ModelsList: OnModelsList(); return true;
    case cmd::OpenInside: OnOpenInside(); return true;
    case cmd::ZExaggeration: OnZExaggeration(); return true;
    case cmd::Measure: OnMeasure(); return true;
    case cmd::ScaleModel: OnScaleModel(); return true;
    case cmd::AsciiExport: OnAsciiExport(); return true;
    case cmd::ApplyTexture: OnApplyTexture(); return true;
    case cmd::RepresentationProperties: OnRepresentationProperties(); return true;
    case cmd::MergeObj:
    case cmd::MergePly:
    case cmd::MergeVrml:
    case cmd::MergeAscii: OnMergeModels(id); return true;
    default: return false;
    }
}

bool CQuarlonFrame::IsChecked(int id) const
{
    vtkRenderWindow* window = m_pView->GetRenderWindow();
    switch (id) {
    case cmd::PerspectiveView: return m_pView->GetProjectionMode() == 0;
    case cmd::StereoAnaglyph: return window->GetStereoRender() && window->GetStereoType() == VTK_STEREO_ANAGLYPH;
    case cmd::StereoRedBlue: return window->GetStereoRender() && window->GetStereoType() == VTK_STEREO_RED_BLUE;
    case cmd::BackfaceCulling: return m_pDocument->GetBackfaceCulling() != 0;
    case cmd::ModelsList: return m_pModelListDlg && m_pModelListDlg->isVisible();
    case cmd::RepresentationProperties: return m_pPropertiesDlg && m_pPropertiesDlg->isVisible();
    case cmd::Measure: return IsMeasureVisible();
    case cmd::ScaleModel: return IsScaleVisible();
    default: return false;
    }
}

void CQuarlonFrame::OnStereo(int type)
{
    vtkRenderWindow* window = m_pView->GetRenderWindow();
    if (!window->GetStereoRender()) {
        window->SetStereoType(type);
        window->StereoRenderOn();
    } else if (window->GetStereoType() != type) {
        window->SetStereoType(type);
    } else {
        window->StereoRenderOff();
    }
    m_pView->Render();
}

void CQuarlonFrame::OnBackgroundColor()
{
    const unsigned int current = m_pView->GetBackgroundColor();
    bool accepted = false;
    const QColor chosen = Chooser().ChooseColor(this, QColor(current & 0xFF, (current >> 8) & 0xFF, (current >> 16) & 0xFF), &accepted);
    if (!accepted || !chosen.isValid())
        return;
    m_pView->SetBackgroundColor(static_cast<unsigned int>(chosen.red()) | (static_cast<unsigned int>(chosen.green()) << 8) |
                                (static_cast<unsigned int>(chosen.blue()) << 16));
    m_pView->Render();
}

void CQuarlonFrame::OnFastSwitch(int index)
{
    const bool ok = m_pDocument->SetRepresentationAll(index);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_pView->Render();
    QApplication::restoreOverrideCursor();
    if (!ok)
        Prompt().Message(this,
                         QStringLiteral("Warning! One or more errors occurred while applying new settings!\n\nPerhaps "
                                        "one or more clouds are missing the properties you set."),
                         IPrompt::Icon::Warning);
}

void CQuarlonFrame::OnModelsList()
{
    CreateModelListDlg();
    if (!m_pModelListDlg)
        return;
    if (m_pModelListDlg->isVisible() || m_bListPending) {
        m_bListPending = m_bListWasShown = false;
        m_pModelListDlg->hide();
    } else {
        ShowModelList();
    }
}

void CQuarlonFrame::OnMergeModels(int id)
{
    if (m_pDocument->GetModelCount() == 0)
        return;
    struct Kind {
        int id;
        const char* filter;
        const char* suffix;
    };
    static const Kind kKinds[] = {
        {cmd::MergeObj, "OBJ Model (*.obj)|*.obj||", "obj"},
        {cmd::MergePly, "PLY Model (*.ply)|*.ply||", "ply"},
        {cmd::MergeVrml, "VRML Model (*.wrl)|*.wrl||", "wrl"},
        {cmd::MergeAscii, "ASCII XYZRGBTexXTexYImg (*.txt)|*.txt||", "txt"},
    };
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds)
        if (k.id == id)
            kind = &k;
    if (!kind)
        return;
    const QString path = Chooser().SaveFile(this, QStringLiteral("Save As"), QtFilter(QLatin1String(kind->filter)),
                                            QLatin1String(kind->suffix));
    if (path.isEmpty())
        return;
    const bool binary = id == cmd::MergePly &&
                        Prompt().AskYesNo(this, QStringLiteral("Do you want to save file as binary data?"));
    exchange::ExportResult result;
    std::string why;
    {
        const CBusyGuard busy;
        CVTKListenerDlg progress;
        const std::string target = path.toStdString();
        switch (id) {
        case cmd::MergeObj: result = exchange::WriteScene(*m_pDocument, target, exchange::SceneFormat::Obj, &progress, &why); break;
        case cmd::MergeVrml: result = exchange::WriteScene(*m_pDocument, target, exchange::SceneFormat::Vrml, &progress, &why); break;
        case cmd::MergePly: result = exchange::WriteMergedPly(*m_pDocument, target, binary, &progress, &why); break;
        default: result = exchange::WriteXyzRgbListing(*m_pDocument, target, &progress, &why); break;
        }
    }
    if (result == exchange::ExportResult::Aborted)
        return;
    if (result != exchange::ExportResult::Ok) {
        // A failed write says so; the file that was there stays.
        Prompt().Message(this,
                         id == cmd::MergeAscii ? QStringLiteral("Unabe to write file!")
                                               : QStringLiteral("Unable to write the file: %1").arg(QString::fromStdString(why)),
                         IPrompt::Icon::Warning);
        return;
    }
    Prompt().Message(this, QStringLiteral("Process completed."), IPrompt::Icon::Information);
}

void CQuarlonFrame::OnAsciiExport()
{
    const int n = m_pDocument->GetModelCount();
    if (n == 0) {
        Prompt().Message(this,
                         QStringLiteral("No models present in the document.\nPlease add one or models following "
                                        "\"File\" menu."),
                         IPrompt::Icon::Warning);
        return;
    }
    CreateModelListDlg();
    if (!m_pModelListDlg)
        return;
    if (!m_pModelListDlg->isVisible() && n >= 2)
        ShowModelList();
    const QList<int> rows = m_pModelListDlg->List()->SelectedRows();
    const int s = rows.size();
    if (s == 0 && n != 1) {
        Prompt().Message(this, QStringLiteral("Please select the model you want to export from \"Models List\" window."),
                         IPrompt::Icon::Information);
        return;
    }
    if (s != 1 && n != 1) {
        Prompt().Message(this, QStringLiteral("Please select just one model to export from \"Models List\" window."),
                         IPrompt::Icon::Warning);
        return;
    }
    CScanPos* model = nullptr;
    if (n == 1) {
        CQuarlonDoc::Position pos = m_pDocument->GetFirstModelPosition();
        model = m_pDocument->GetNextModel(pos);
    } else {
        model = m_pModelListDlg->GetModelAt(rows.first());
    }
    if (!model) {
        Prompt().Message(this, QStringLiteral("An error occurred while retrieving model points coordinates!"),
                         IPrompt::Icon::Warning);
        return;
    }
    CASCIIExportDlg dialog(model, this);
    dialog.DoModal();
}

void CQuarlonFrame::OnRepresentationProperties()
{
    if (!m_pPropertiesDlg) {
        CQuarlonDoc::Position pos = m_pDocument->GetFirstModelPosition();
        if (CScanPos* first = pos ? m_pDocument->GetNextModel(pos) : nullptr) {
            m_pPropertiesDlg = new CScanPosOptionsDlg(first, this);
            m_pPropertiesDlg->hide();
            connect(m_pPropertiesDlg, &CScanPosOptionsDlg::visibilityChanged, this, &CQuarlonFrame::statusCountsChanged);
        }
    }
    if (!m_pPropertiesDlg) {
        Prompt().Message(this, QStringLiteral("Unable to retrieve model properties!"), IPrompt::Icon::Warning);
        return;
    }
    if (m_pPropertiesDlg->isVisible()) {
        m_pPropertiesDlg->hide();
        return;
    }
    if (m_pDocument->GetModelCount() == 0)
        return;
    CScanPos* model = ChooseOneModel();
    if (!model)
        return;
    m_pPropertiesDlg->SetModel(model);
    ShowToolWindow(m_pPropertiesDlg, m_bPropertiesPlaced);
}

void CQuarlonFrame::OnApplyTexture()
{
    CScanPos* model = ChooseOneModel();
    if (!model)
        return;
    const QStringList files = Chooser().OpenFiles(
        this, QStringLiteral("Open"), QtFilter(QStringLiteral("Texture image file (*.jpg;*.png;*.tif)|*.jpg;*.png;*.tif||")),
        false);
    if (files.isEmpty())
        return;
    const std::string image = files.first().toStdString();
    std::unique_ptr<texture::PreparedTexture> prepared;
    {
        const CBusyGuard busy;
        prepared = std::make_unique<texture::PreparedTexture>(model->GetTextureFilePath(), image);
    }
    switch (prepared->Status()) {
    case texture::CutStatus::AsIs:
    case texture::CutStatus::Cut: break;
    case texture::CutStatus::Unloadable:
        Prompt().Message(this, QStringLiteral("Unable to load the texture"), IPrompt::Icon::Error);
        return;
    case texture::CutStatus::NotSupported:
        Prompt().Message(this,
                         QStringLiteral("This model doesn't support a texture or it was generated by an older Kandro "
                                        "version"),
                         IPrompt::Icon::Information);
        return;
    case texture::CutStatus::Incompatible:
        Prompt().Message(this, QStringLiteral("Selected image has not compatible resolution"), IPrompt::Icon::Information);
        return;
    case texture::CutStatus::WriteFailed:
        // No such case on the original platform: the cut could not be stored.
        Prompt().Message(this,
                         QStringLiteral("Unable to prepare the texture: %1").arg(QString::fromStdString(prepared->Reason())),
                         IPrompt::Icon::Error);
        return;
    }
    model->ApplyTexture(prepared->ImageToApply());
    prepared.reset(); // the temporary cut goes at once
    const CBusyGuard busy;
    m_pView->Render();
}

void CQuarlonFrame::OnOpenInside()
{
    const QStringList files = Chooser().OpenFiles(
        this, QStringLiteral("Open Inside"),
        QtFilter(QStringLiteral("Point Cloud File (*.pvtp;*.vtp;*.vtk)|*.pvtp;*.vtp;*.vtk|") + ScanFilesPipeEntry() + QStringLiteral("|")),
        true);
    for (const QString& file : files)
        OpenInsideFile(file);
    emit statusCountsChanged();
    m_pView->Render();
}

void CQuarlonFrame::OnZExaggeration()
{
    CScanPos* model = ChooseOneModel();
    if (!model)
        return;
    CInputValueDlg dlg(model->GetZScale());
    if (dlg.exec() != QDialog::Accepted)
        return;
    model->SetZScale(dlg.GetDoubleValue());
    m_pView->Render();
}

QString CQuarlonFrame::Title() const
{
    const std::string& path = m_pDocument->GetPathName();
    return path.empty() ? QStringLiteral("Quarlon") : QFileInfo(QString::fromStdString(path)).fileName();
}

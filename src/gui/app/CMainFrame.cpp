#include "gui/app/CMainFrame.h"

#include "gui/app/CQuarlonApp.h"
#include "gui/common/BusyGuard.h"
#include "gui/common/Commands.h"
#include "gui/common/Icons.h"
#include "gui/common/Prompts.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/Representation.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QStyle>
#include <QTimer>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>

namespace {
const int kRecentCount = 4;
} // namespace

CMainFrame::CMainFrame(CQuarlonApp* app) : m_pApp(app), m_pMdiArea(new QMdiArea(this)), m_pCounts(new QLabel(this))
{
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Quarlon - Tarvole Software - tarvole.example"));
    setAcceptDrops(true);
    // File dialogs open where the active document lies.
    SetDialogFolderProvider([this] {
        CQuarlonFrame* frame = ActiveFrame();
        const std::string path = frame ? frame->GetFrameDocument()->GetPathName() : std::string();
        return path.empty() ? QString() : QFileInfo(QString::fromStdString(path)).absolutePath();
    });
    m_pMdiArea->setObjectName(QStringLiteral("mdiArea"));
    m_pMdiArea->setViewMode(QMdiArea::SubWindowView);
    setCentralWidget(m_pMdiArea);

    BuildToolBars();
    BuildMenus();

    // Pane 0 is the status bar's own message area ("Ready" and prompts),
    // pane 1 the count line.
    m_pCounts->setObjectName(QStringLiteral("statusCounts"));
    m_pCounts->setMinimumWidth(500);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->addPermanentWidget(m_pCounts, 0);
    statusBar()->showMessage(QStringLiteral("Ready"));
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            statusBar()->showMessage(QStringLiteral("Ready"));
    });

    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* sub) {
        // A document's tool windows show only while it is the active one;
        // losing the focus to a tool window or a dialog changes nothing.
        if (sub)
            UpdateToolWindows();
        UpdateMenus();
        UpdateStatusCounts();
    });
    UpdateMenus();
    resize(1024, 768);
}

CMainFrame::~CMainFrame()
{
    SetDialogFolderProvider(nullptr);
    // Document windows go first, while the main window is whole, and
    // without the notifications that would reach half-destroyed members.
    QObject::disconnect(m_pMdiArea, nullptr, this, nullptr);
    const QList<QMdiSubWindow*> subs = m_pMdiArea->subWindowList();
    for (QMdiSubWindow* sub : subs) {
        QObject::disconnect(sub, nullptr, this, nullptr);
        delete sub;
    }
}

QAction* CMainFrame::MakeAction(int id)
{
    const cmd::Info* info = cmd::Find(id);
    auto* action = new QAction(QString::fromLatin1(info->label), this);
    action->setObjectName(cmd::ObjectName(id));
    action->setData(id);
    if (*info->shortcut)
        action->setShortcut(QKeySequence(QString::fromLatin1(info->shortcut)));
    action->setStatusTip(QString::fromLatin1(info->prompt));
    action->setToolTip(QString(QString::fromLatin1(info->label)).remove(QLatin1Char('&')));
    const QIcon icon = CommandIcon(id);
    if (!icon.pixmap(16, 16).toImage().isNull() && id != cmd::ViewToolbar && id != cmd::ViewStatusBar)
        action->setIcon(icon);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions.insert(id, action);
    return action;
}

void CMainFrame::BuildToolBars()
{
    m_pStandardBar = addToolBar(QStringLiteral("Standard"));
    m_pStandardBar->setObjectName(QStringLiteral("ToolBar128"));
    m_pStandardBar->setIconSize(QSize(16, 16));
    m_pStandardBar->addAction(MakeAction(cmd::FileOpen));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::ModelsList));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::RepresentationProperties));
    for (int group = 0; group < 3; ++group) {
        m_pStandardBar->addSeparator();
        // One Color, RGB, Texture of points, wireframe, surface.
        static const int kIndices[3][3] = {{4, 0, 16}, {9, 5, 17}, {14, 10, 15}};
        for (int index : kIndices[group])
            m_pStandardBar->addAction(MakeAction(cmd::RepresentationCommand(index)));
    }
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::ApplyTexture));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::PerspectiveView));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::StereoAnaglyph));
    m_pStandardBar->addAction(MakeAction(cmd::StereoRedBlue));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::Measure));
    m_pStandardBar->addSeparator();
    m_pStandardBar->addAction(MakeAction(cmd::FilePrint));
    m_pStandardBar->addAction(MakeAction(cmd::HelpMouseInteraction));
    m_pStandardBar->addAction(MakeAction(cmd::HelpTutorial));
    m_pStandardBar->addAction(MakeAction(cmd::AppAbout));

    // The "3D" toolbar docks at the top only, beside the standard one.
    m_p3DBar = new QToolBar(QStringLiteral("3D"), this);
    m_p3DBar->setObjectName(QStringLiteral("ToolBar32772"));
    m_p3DBar->setIconSize(QSize(16, 16));
    m_p3DBar->setAllowedAreas(Qt::TopToolBarArea);
    for (int id = cmd::ViewTop; id <= cmd::ViewSouthEast; ++id)
        m_p3DBar->addAction(MakeAction(id));
    addToolBar(Qt::TopToolBarArea, m_p3DBar);
}

void CMainFrame::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(Action(cmd::FileOpen));
    QAction* openInside = MakeAction(cmd::OpenInside);
    file->addAction(openInside);
    file->addAction(MakeAction(cmd::FileImport));
    QAction* close = MakeAction(cmd::FileClose);
    file->addAction(close);
    file->addSeparator();
    file->addAction(MakeAction(cmd::LoadSampleModel));
    file->addSeparator();
    QAction* print = Action(cmd::FilePrint);
    file->addAction(print);
    file->addAction(MakeAction(cmd::FilePrintSetup));
    m_pRecentSeparator = file->addSeparator();
    for (int i = 0; i < kRecentCount; ++i) {
        auto* recent = new QAction(this);
        recent->setObjectName(QStringLiteral("ID_%1").arg(cmd::FileMru + i));
        recent->setVisible(false);
        connect(recent, &QAction::triggered, this, [this, recent] {
            m_pApp->OpenDocumentFile(recent->data().toString());
        });
        m_recentActions << recent;
        file->addAction(recent);
    }
    file->addSeparator();
    file->addAction(MakeAction(cmd::AppExit));

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* toolbar = MakeAction(cmd::ViewToolbar);
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    view->addAction(toolbar);
    QAction* status = MakeAction(cmd::ViewStatusBar);
    status->setCheckable(true);
    status->setChecked(true);
    view->addAction(status);
    QAction* presetsSeparator = view->addSeparator();
    QMenu* presets = view->addMenu(QStringLiteral("Preset &Views"));
    for (int id = cmd::ViewTop; id <= cmd::ViewSouthEast; ++id)
        presets->addAction(Action(id));
    QList<QAction*> viewItems;
    viewItems << view->addSeparator();
    view->addAction(Action(cmd::PerspectiveView));
    viewItems << view->addSeparator();
    view->addAction(Action(cmd::RepresentationProperties));
    viewItems << Action(cmd::RepresentationProperties);
    QMenu* fast = view->addMenu(QStringLiteral("Fast Representation Switch"));
    // Points, wireframe, surface groups: One Color, RGB, Texture, GrayScale, RedBlue, BlueRed.
    for (int style = 0; style < representation::kStyles; ++style) {
        if (style)
            fast->addSeparator();
        for (int position = 0; position < representation::kPerStyle; ++position) {
            const int id = cmd::RepresentationCommand(representation::MenuIndex(style, position));
            fast->addAction(Action(id) ? Action(id) : MakeAction(id));
        }
    }
    view->addAction(Action(cmd::ApplyTexture));
    viewItems << fast->menuAction() << Action(cmd::ApplyTexture) << view->addSeparator();
    view->addAction(Action(cmd::StereoAnaglyph));
    view->addAction(Action(cmd::StereoRedBlue));
    viewItems << view->addSeparator();
    view->addAction(MakeAction(cmd::BackfaceCulling));
    viewItems << Action(cmd::BackfaceCulling) << view->addSeparator();
    view->addAction(Action(cmd::ModelsList));
    viewItems << view->addSeparator();
    view->addAction(MakeAction(cmd::BackgroundColor));
    viewItems << Action(cmd::BackgroundColor);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->addAction(Action(cmd::Measure));
    tools->addSeparator();
    tools->addAction(MakeAction(cmd::ScaleModel));
    tools->addAction(MakeAction(cmd::ZExaggeration));
    tools->addSeparator();
    tools->addAction(MakeAction(cmd::AsciiExport));
    tools->addSeparator();
    QMenu* merge = tools->addMenu(QStringLiteral("Merge Models"));
    for (int id : {cmd::MergeObj, cmd::MergePly, cmd::MergeVrml, cmd::MergeAscii})
        merge->addAction(MakeAction(id));

    m_pWindowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
    m_pWindowMenu->setObjectName(QStringLiteral("menuWindow"));
    m_pWindowMenu->addAction(MakeAction(cmd::WindowCascade));
    m_pWindowMenu->addAction(MakeAction(cmd::WindowTile));
    m_pWindowSeparator = m_pWindowMenu->addSeparator();
    connect(m_pWindowMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateWindowList);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(Action(cmd::AppAbout));
    help->addAction(Action(cmd::HelpTutorial));
    help->addSeparator();
    help->addAction(Action(cmd::HelpMouseInteraction));

    // Shown only while a document window is open.
    // Menu-only commands hide without a document; those on the toolbars
    // stay and are greyed (UpdateMenus).
    m_documentOnly = {openInside, close, presetsSeparator, presets->menuAction(), m_pWindowMenu->menuAction(),
                      tools->menuAction()};
    m_documentOnly << viewItems;
    for (int id : {cmd::PerspectiveView, cmd::StereoAnaglyph, cmd::StereoRedBlue, cmd::BackfaceCulling, cmd::ModelsList,
                   cmd::Measure, cmd::ScaleModel, cmd::RepresentationProperties}) {
        Action(id)->setCheckable(true);
        // A menu shows an item's icon in place of its check mark.
        Action(id)->setIconVisibleInMenu(false);
    }
    connect(view, &QMenu::aboutToShow, this, &CMainFrame::UpdateCheckMarks);
    UpdateRecentFiles();
}

void CMainFrame::UpdateMenus()
{
    const bool hasDocument = ActiveFrame() != nullptr;
    for (QAction* a : m_documentOnly)
        a->setVisible(hasDocument);
    // Document commands on the toolbars are greyed without a document.
    for (QAction* a : m_pStandardBar->actions() + m_p3DBar->actions()) {
        const int id = a->data().toInt();
        if (id && id != cmd::FileOpen && id != cmd::HelpMouseInteraction && id != cmd::HelpTutorial && id != cmd::AppAbout)
            a->setEnabled(hasDocument);
    }
    UpdateCheckMarks();
    UpdateWindowList();
}

void CMainFrame::UpdateWindowList()
{
    // The framework's list of document windows: numbered, the active one checked.
    for (QAction* a : m_windowActions)
        delete a;
    m_windowActions.clear();
    // A window that was closed is hidden at once and deleted a moment later.
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : m_pMdiArea->subWindowList())
        if (!sub->isHidden())
            subs << sub;
    CQuarlonFrame* active = ActiveFrame();
    for (int i = 0; i < subs.size(); ++i) {
        QMdiSubWindow* sub = subs[i];
        const QString title = sub->windowTitle();
        auto* a = new QAction(i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title)
                                    : QStringLiteral("%1 %2").arg(i + 1).arg(title),
                              m_pWindowMenu);
        a->setCheckable(true);
        a->setChecked(sub->widget() == active);
        a->setStatusTip(QStringLiteral("Activate this window"));
        connect(a, &QAction::triggered, this, [this, sub] {
            if (m_pMdiArea->subWindowList().contains(sub)) {
                if (sub->isMinimized())
                    sub->showNormal();
                m_pMdiArea->setActiveSubWindow(sub);
            }
        });
        m_pWindowMenu->addAction(a);
        m_windowActions << a;
    }
    m_pWindowSeparator->setVisible(!subs.isEmpty());
}

void CMainFrame::UpdateToolWindows()
{
    CQuarlonFrame* active = ActiveFrame();
    for (CQuarlonFrame* frame : Frames())
        if (frame != active)
            frame->SetToolWindowsShown(false);
    if (active)
        active->SetToolWindowsShown(true);
}

void CMainFrame::UpdateCheckMarks()
{
    CQuarlonFrame* frame = ActiveFrame();
    for (int id : {cmd::PerspectiveView, cmd::StereoAnaglyph, cmd::StereoRedBlue, cmd::BackfaceCulling, cmd::ModelsList,
                   cmd::Measure, cmd::ScaleModel, cmd::RepresentationProperties})
        Action(id)->setChecked(frame && frame->IsChecked(id));
}

void CMainFrame::UpdateRecentFiles()
{
    const QStringList files = m_pApp->RecentFiles();
    for (int i = 0; i < kRecentCount; ++i) {
        QAction* a = m_recentActions[i];
        if (i < files.size()) {
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(files[i]).fileName()));
            a->setData(files[i]);
            a->setStatusTip(files[i]);
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
    m_pRecentSeparator->setVisible(!files.isEmpty());
}

void CMainFrame::OnCommand(int id)
{
    if (CQuarlonFrame* frame = ActiveFrame()) {
        if (frame->OnCommand(id)) {
            UpdateCheckMarks();
            return;
        }
    }
    switch (id) {
    case cmd::FileOpen: m_pApp->OnFileOpen(); break;
    case cmd::FileClose:
        // The document window the commands act on, also while the main
        // window itself is not the active one.
        if (CQuarlonFrame* frame = ActiveFrame())
            if (auto* sub = qobject_cast<QMdiSubWindow*>(frame->parentWidget()))
                sub->close();
        break;
    case cmd::LoadSampleModel: m_pApp->OnLoadSampleModel(); break;
    case cmd::FileImport: m_pApp->OnFileImport(); break;
    case cmd::FilePrint: m_pApp->OnPrint(); break;
    case cmd::FilePrintSetup: m_pApp->OnPrintSetup(); break;
    case cmd::AppExit: close(); break;
    case cmd::AppAbout: m_pApp->OnAppAbout(); break;
    case cmd::HelpTutorial: m_pApp->OnHelpTutorial(); break;
    case cmd::HelpMouseInteraction: m_pApp->OnMouseInteraction(); break;
    case cmd::WindowCascade: CascadeDocuments(); break;
    case cmd::WindowTile:
        m_pMdiArea->tileSubWindows();
        FitViewsLater();
        break;
    case cmd::ViewToolbar: {
        const bool show = Action(id)->isChecked();
        m_pStandardBar->setVisible(show);
        m_p3DBar->setVisible(show);
        break;
    }
    case cmd::ViewStatusBar: statusBar()->setVisible(Action(id)->isChecked()); break;
    default: break;
    }
}

QMdiSubWindow* CMainFrame::AddFrame(CQuarlonFrame* frame)
{
    QMdiSubWindow* sub = m_pMdiArea->addSubWindow(frame);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(frame->Title());
    sub->setWindowIcon(windowIcon());
    connect(sub, &QObject::destroyed, this, [this] {
        UpdateMenus();
        UpdateStatusCounts();
    });
    connect(frame, &CQuarlonFrame::statusCountsChanged, this, [this] {
        UpdateStatusCounts();
        UpdateCheckMarks();
    });
    sub->showMaximized();
    return sub;
}

void CMainFrame::CascadeDocuments()
{
    // Qt's cascade sizes windows by their size hints, and a 3D view hints
    // none: every document became a title bar. Each window here is as large
    // as the area allows with the title bars of the others still showing.
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* w : m_pMdiArea->subWindowList())
        if (w->isVisible())
            windows << w;
    if (windows.isEmpty())
        return;
    const QSize area = m_pMdiArea->viewport()->size();
    const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 6;
    const int shift = step * static_cast<int>(windows.size() - 1);
    const QSize size(std::max(area.width() - shift, area.width() * 2 / 3), std::max(area.height() - shift, area.height() * 2 / 3));
    const int room = std::max(1, std::min(area.width() - size.width(), area.height() - size.height()));
    int i = 0;
    for (QMdiSubWindow* w : windows) {
        if (w->isMinimized() || w->isMaximized())
            w->showNormal();
        const int at = (i++ * step) % (room + 1);
        w->setGeometry(QRect(QPoint(at, at), size));
        w->raise();
    }
    if (QMdiSubWindow* active = m_pMdiArea->activeSubWindow())
        active->raise();
    FitViewsLater();
}

void CMainFrame::FitViewsLater()
{
    // Once the new sizes are laid out, every view shows its whole model.
    QTimer::singleShot(0, this, [this] {
        for (CQuarlonFrame* frame : Frames())
            frame->GetView()->FitScene();
    });
}

CQuarlonFrame* CMainFrame::ActiveFrame() const
{
    QMdiSubWindow* sub = m_pMdiArea->activeSubWindow();
    if (!sub) {
        // Without focus (for instance while a dialog is up) take the top window.
        const QList<QMdiSubWindow*> list = m_pMdiArea->subWindowList(QMdiArea::StackingOrder);
        sub = list.isEmpty() ? nullptr : list.last();
    }
    return sub ? qobject_cast<CQuarlonFrame*>(sub->widget()) : nullptr;
}

QList<CQuarlonFrame*> CMainFrame::Frames() const
{
    // A closed window is hidden at once and deleted a moment later: it is
    // no document window any more.
    QList<CQuarlonFrame*> frames;
    for (QMdiSubWindow* sub : m_pMdiArea->subWindowList())
        if (auto* frame = qobject_cast<CQuarlonFrame*>(sub->widget()); frame && !sub->isHidden())
            frames << frame;
    return frames;
}

QString CMainFrame::StatusCounts() const { return m_pCounts->text(); }

void CMainFrame::UpdateStatusCounts()
{
    CQuarlonFrame* active = ActiveFrame();
    long long loadedPoints = 0, loadedFaces = 0, viewPoints = 0, viewFaces = 0;
    for (CQuarlonFrame* frame : Frames()) {
        CQuarlonDoc* doc = frame->GetFrameDocument();
        CQuarlonDoc::Position pos = doc->GetFirstModelPosition();
        while (pos) {
            CScanPos* model = doc->GetNextModel(pos);
            vtkPolyDataMapper* mapper = model->GetMapper(kFullLevel);
            vtkPolyData* data = mapper ? vtkPolyData::SafeDownCast(mapper->GetInput()) : nullptr;
            if (!data)
                continue;
            const long long points = data->GetNumberOfPoints();
            // Faces are polygons and strips; a cloud's vertex cells are none.
            const long long faces = data->GetNumberOfPolys() + data->GetNumberOfStrips();
            loadedPoints += points;
            loadedFaces += faces;
            if (frame == active && model->IsVisible()) {
                viewPoints += points;
                viewFaces += faces;
            }
        }
    }
    m_pCounts->setText(QStringLiteral("Loaded %1 points and %2 faces. Viewing %3 points and %4 faces.")
                           .arg(loadedPoints)
                           .arg(loadedFaces)
                           .arg(viewPoints)
                           .arg(viewFaces));
}

void CMainFrame::OnDropFiles(const QStringList& paths, const QPoint& pos)
{
    const CBusyGuard busy;
    if (paths.isEmpty())
        return;
    activateWindow();
    CQuarlonFrame* active = ActiveFrame();
    if (active) {
        CQuarlonView* view = active->GetView();
        const QRect viewRect(view->mapTo(this, QPoint(0, 0)), view->size());
        if (view->isVisible() && viewRect.contains(pos)) {
            for (const QString& path : paths)
                active->OpenInsideFile(path);
            UpdateStatusCounts();
            view->Render();
            return;
        }
    }
    // Outside a view: the first file opens a document and the others join it.
    CQuarlonFrame* target = nullptr;
    for (const QString& path : paths) {
        if (target)
            target->OpenInsideFile(path);
        else
            target = m_pApp->OpenDocumentFile(path);
    }
    if (target)
        target->GetView()->Render();
    UpdateStatusCounts();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    OnDropFiles(paths, event->pos());
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (CBusyGuard::DeferClose(this)) {
        event->ignore();
        return;
    }
    QSettings profile(QStringLiteral("Tarvole Software"), QStringLiteral("Quarlon"));
    profile.setValue(QStringLiteral("MainFrame/Geometry"), saveGeometry());
    profile.setValue(QStringLiteral("MainFrame/State"), saveState());
    profile.setValue(QStringLiteral("MainFrame/Maximized"), isMaximized());
    m_pMdiArea->closeAllSubWindows();
    QMainWindow::closeEvent(event);
}

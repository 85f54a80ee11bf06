#pragma once
// The main window: document windows in an MDI area, the menus, the standard
// and "3D" toolbars, and the status line that counts points and faces.
#include <QMainWindow>
#include <QMap>

class CQuarlonApp;
class CQuarlonFrame;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CQuarlonApp* app);
    ~CMainFrame() override;

    QMdiArea* MdiArea() const { return m_pMdiArea; }
    // Puts a frame into a new document window.
    QMdiSubWindow* AddFrame(CQuarlonFrame* frame);
    CQuarlonFrame* ActiveFrame() const;
    // Window > Cascade: documents overlapping, each a usable size.
    void CascadeDocuments();
    QList<CQuarlonFrame*> Frames() const;

    void UpdateStatusCounts();
    QString StatusCounts() const;
    // Files dropped at `pos` (main window coordinates).
    void OnDropFiles(const QStringList& paths, const QPoint& pos);
    void UpdateRecentFiles();
    QAction* Action(int commandId) const { return m_actions.value(commandId); }
    QToolBar* StandardToolBar() const { return m_pStandardBar; }
    QToolBar* ViewToolBar() const { return m_p3DBar; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FitViewsLater();
    QAction* MakeAction(int id);
    void BuildMenus();
    void BuildToolBars();
    void UpdateMenus();
    void UpdateCheckMarks();
    void UpdateWindowList();
    void UpdateToolWindows();
    void OnCommand(int id);

    CQuarlonApp* m_pApp;
    QMdiArea* m_pMdiArea;
    QLabel* m_pCounts;
    QToolBar* m_pStandardBar = nullptr;
    QToolBar* m_p3DBar = nullptr;
    QMap<int, QAction*> m_actions;
    QList<QAction*> m_recentActions;
    QAction* m_pRecentSeparator = nullptr;
    QList<QAction*> m_documentOnly;
    QMenu* m_pWindowMenu = nullptr;
    QAction* m_pWindowSeparator = nullptr;
    QList<QAction*> m_windowActions;
};

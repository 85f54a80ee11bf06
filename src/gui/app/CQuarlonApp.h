#pragma once
// The application: start-up, the single running copy, the main window, the
// documents, and the application-wide commands.
#include <QObject>
#include <QStringList>

#include <memory>

class CMainFrame;
class CQuarlonFrame;
class CSingleInstance;
class QPrinter;

class CQuarlonApp : public QObject {
    Q_OBJECT
public:
    CQuarlonApp();
    ~CQuarlonApp() override;

    // Interprets the command line and starts; false ends the process.
    // `exitCode` is set for runs that end at once (screenshot, print, hand-over).
    bool InitInstance(const QStringList& arguments, int& exitCode);

    CMainFrame* MainFrame() const { return m_pMainFrame; }
    // Opens a model or project file as a new document; none when it fails.
    CQuarlonFrame* OpenDocumentFile(const QString& path);
    // The document window whose document is the file `path`, if one is open.
    CQuarlonFrame* FindDocumentFrame(const QString& path) const;
    void OnFileOpen();
    void OnFileImport();
    void OnLoadSampleModel();
    void OnAppAbout();
    void OnHelpTutorial();
    void OnMouseInteraction();
    void OnPrint();
    void OnPrintSetup();
    void OnAnotherInstance(const QString& path);

    QStringList RecentFiles() const;
    // The folder of the executable (sample model, help files).
    static QString ProgramFolder();
    // Writes a line to $QUARLON_TRACE_FILE when set (used by tests of
    // hand-over between processes).
    static void Trace(const QString& line);

private:
    int RunScreenshot(const QString& output, const QSize& size, const QStringList& files);
    int RunPrint(const QString& file, const QString& pdf);
    void ShowSplash();
    void AddRecentFile(const QString& path);

    CMainFrame* m_pMainFrame = nullptr;
    CSingleInstance* m_pInstance = nullptr;
    // Print Setup's choices hold for the next prints of this session.
    std::unique_ptr<QPrinter> m_pPrinter;
};

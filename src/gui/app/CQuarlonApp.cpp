#include "gui/app/CQuarlonApp.h"

#include "core/formats/ForeignModel.h"

#include "gui/app/CMainFrame.h"
#include "gui/common/BusyGuard.h"
#include "gui/common/Commands.h"
#include "gui/app/HelpDialogs.h"
#include "gui/common/Icons.h"
#include "gui/common/Prompts.h"
#include "gui/app/SingleInstance.h"
#include "core/common/AppSettings.h"
#include "core/common/Paths.h"
#include "gui/controls/CSplashScreenEx.h"
#include "gui/controls/CVTKListenerDlg.h"
#include "core/common/SafeFile.h"
#include "core/exchange/XyzImport.h"
#include "core/model/CQuarlonDoc.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {


const int kRecentCount = 4;
const char* const kCompany = "Tarvole Software";
const char* const kProduct = "Quarlon";

// Runs the event loop for `ms` milliseconds, so the splash paints and fades.
void Wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

const char* const kUsage =
    "Usage: quarlon [FILE...]\n"
    "       quarlon --screenshot OUT.png [--size WxH] FILE...\n"
    "       quarlon --print FILE [--print-to-pdf OUT.pdf]\n"
    "\n"
    "Opens model files (.vtp, .pvtp, .vtk) or project files (.mvtp). When Quarlon\n"
    "is already running, the file is handed to the running copy.\n"
    "  --screenshot OUT.png  open the files, draw the first one from the top at the\n"
    "                        given size (default 1024x768), write the picture, exit\n"
    "  --print FILE          open FILE, print it to the default printer (or to a PDF\n"
    "                        file with --print-to-pdf) and exit\n";

} // namespace

CQuarlonApp::CQuarlonApp()
{
    QCoreApplication::setOrganizationName(QLatin1String(kCompany));
    QCoreApplication::setApplicationName(QLatin1String(kProduct));
    const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    appsettings::SetPath(appsettings::DefaultPath((base.isEmpty() ? QStringLiteral("quarlon") : base).toStdString()));
}

CQuarlonApp::~CQuarlonApp()
{
    delete m_pMainFrame;
}

QString CQuarlonApp::ProgramFolder() { return QCoreApplication::applicationDirPath(); }

void CQuarlonApp::Trace(const QString& line)
{
    const QByteArray file = qgetenv("QUARLON_TRACE_FILE");
    if (file.isEmpty())
        return;
    QFile out(QString::fromLocal8Bit(file));
    if (out.open(QIODevice::Append | QIODevice::Text))
        QTextStream(&out) << line << '\n';
}

bool CQuarlonApp::InitInstance(const QStringList& arguments, int& exitCode)
{
    exitCode = 0;
    QStringList files;
    QString screenshot, printFile, printPdf;
    QSize size(1024, 768);
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return false;
        } else if (a == QLatin1String("--screenshot") && i + 1 < arguments.size()) {
            screenshot = arguments[++i];
        } else if (a == QLatin1String("--size") && i + 1 < arguments.size()) {
            const QStringList wh = arguments[++i].split(QLatin1Char('x'));
            const int w = wh.value(0).toInt(), h = wh.value(1).toInt();
            if (wh.size() != 2 || w < 16 || h < 16 || w > 8192 || h > 8192) {
                std::fprintf(stderr, "quarlon: --size expects WxH, for example 1024x768\n");
                exitCode = 2;
                return false;
            }
            size = QSize(w, h);
        } else if (a == QLatin1String("--print") && i + 1 < arguments.size()) {
            printFile = arguments[++i];
        } else if (a == QLatin1String("--print-to-pdf") && i + 1 < arguments.size()) {
            printPdf = arguments[++i];
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "quarlon: unknown option %s\n\n%s", qPrintable(a), kUsage);
            exitCode = 2;
            return false;
        } else {
            files << QFileInfo(a).absoluteFilePath();
        }
    }
    // Batch runs neither hand over nor show a splash screen.
    if (!screenshot.isEmpty()) {
        exitCode = RunScreenshot(screenshot, size, files);
        return false;
    }
    if (!printFile.isEmpty()) {
        exitCode = RunPrint(printFile, printPdf);
        return false;
    }

    m_pInstance = new CSingleInstance(QLatin1String(kProduct), this);
    if (!m_pInstance->RegisterSingleInstance(files.value(0))) {
        Trace(QStringLiteral("handed over %1").arg(files.value(0)));
        return false;
    }
    connect(m_pInstance, &CSingleInstance::anotherInstance, this, &CQuarlonApp::OnAnotherInstance);

    m_pMainFrame = new CMainFrame(this);
    QApplication::setWindowIcon(CommandIcon(cmd::SurfaceRgb));
    for (const QString& file : files) {
        if (!OpenDocumentFile(file)) { // which said why
            exitCode = 1;
            return false;
        }
    }
    if (qEnvironmentVariableIsEmpty("QUARLON_NO_SPLASH"))
        ShowSplash();

    QSettings profile;
    const QByteArray geometry = profile.value(QStringLiteral("MainFrame/Geometry")).toByteArray();
    if (!geometry.isEmpty()) {
        m_pMainFrame->restoreGeometry(geometry);
        m_pMainFrame->restoreState(profile.value(QStringLiteral("MainFrame/State")).toByteArray());
    }
    if (profile.value(QStringLiteral("MainFrame/Maximized"), false).toBool())
        m_pMainFrame->showMaximized();
    else
        m_pMainFrame->show();
    m_pMainFrame->UpdateStatusCounts();
    Trace(QStringLiteral("started"));
    return true;
}

void CQuarlonApp::ShowSplash()
{
    auto* splash = new CSplashScreenEx;
    splash->Create(m_pMainFrame, QString(), QString(), 0,
                   CSplashScreenEx::FadeIn | CSplashScreenEx::FadeOut | CSplashScreenEx::DropShadow |
                       CSplashScreenEx::CentreScreen);
    splash->SetBitmap(SplashPicture(), 255, 0, 255);
    splash->SetTextFont(QStringLiteral("verdana"), 150, 1);
    splash->SetTextFormat(5);
    splash->SetTextRect1(QRect(QPoint(110, 50), QPoint(300, 350)));
    splash->SetTextColor1(0x242424);
    splash->SetTextRect2(QRect(QPoint(108, 48), QPoint(298, 348)));
    splash->SetTextColor2(0xFFFFFF);
    splash->Show();
    QString text = QStringLiteral("Tarvole Software\n\nQuarlon\ntarvole.example");
    splash->SetText1(text);
    splash->SetText2(text);
    Wait(500);
    text += QStringLiteral("\n\n\n\n\nVer. ") + ProgramVersion();
    splash->SetText1(text);
    splash->SetText2(text);
    Wait(1000);
    splash->Hide();
}

CQuarlonFrame* CQuarlonApp::OpenDocumentFile(const QString& requested)
{
    if (!m_pMainFrame)
        return nullptr;
    const QString path = QFileInfo(requested).absoluteFilePath();
    const CBusyGuard busy;
    // One document per file, as identities go: opening it again shows it.
    if (CQuarlonFrame* open = FindDocumentFrame(path)) {
        m_pMainFrame->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(open->parentWidget()));
        AddRecentFile(path);
        return open;
    }
    auto* frame = new CQuarlonFrame;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = frame->OpenDocument(path);
    QApplication::restoreOverrideCursor();
    Trace(QStringLiteral("open %1 %2").arg(path, ok ? QStringLiteral("ok") : QStringLiteral("failed")));
    if (!ok) {
        // Told before the window goes: a file the user chose never fails unseen.
        const auto& failures = frame->GetFrameDocument()->GetLoadFailures();
        const std::string why = failures.empty() ? std::string() : failures.back().second;
        delete frame;
        m_pMainFrame->UpdateStatusCounts();
        TellLoadFailure(m_pMainFrame, path, why);
        return nullptr;
    }
    m_pMainFrame->AddFrame(frame);
    frame->GetView()->OnInitialUpdate();
    AddRecentFile(path);
    m_pMainFrame->UpdateStatusCounts();
    if (foreign::HoldsScans(qpath::ToLower(qpath::Split(path.toStdString()).extension))) {
        CQuarlonDoc* doc = frame->GetFrameDocument();
        auto problems = doc->GetLoadFailures();
        problems.insert(problems.end(), doc->GetLoadNotes().begin(), doc->GetLoadNotes().end());
        TellScanProblems(m_pMainFrame, path, problems);
    }
    return frame;
}

CQuarlonFrame* CQuarlonApp::FindDocumentFrame(const QString& path) const
{
    if (!m_pMainFrame)
        return nullptr;
    const std::string identity = qpath::ToLower(QFileInfo(path).absoluteFilePath().toStdString());
    for (CQuarlonFrame* frame : m_pMainFrame->Frames())
        if (qpath::ToLower(frame->GetFrameDocument()->GetPathName()) == identity)
            return frame;
    return nullptr;
}

QStringList CQuarlonApp::RecentFiles() const
{
    QSettings profile;
    QStringList files;
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString f = profile.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!f.isEmpty())
            files << f;
    }
    return files;
}

void CQuarlonApp::AddRecentFile(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    QSettings profile;
    for (int i = 1; i <= kRecentCount; ++i)
        profile.setValue(QStringLiteral("Recent File List/File%1").arg(i), files.value(i - 1));
    if (m_pMainFrame)
        m_pMainFrame->UpdateRecentFiles();
}

void CQuarlonApp::OnFileOpen()
{
    const QStringList chosen = Chooser().OpenFiles(
        m_pMainFrame, QStringLiteral("Open"),
        QtFilter(AllFilesPipeEntry() + QStringLiteral("PolyData Files (*.pvtp;.vtp;.vtk)|*.pvtp;*.vtp;*.vtk;*.mvtp|") +
                 ScanFilesPipeEntry() +
                 QStringLiteral("All Files (*.*)|*||")),
        false);
    for (const QString& path : chosen)
        OpenDocumentFile(path);
}

void CQuarlonApp::OnFileImport()
{
    const QStringList chosen = Chooser().OpenFiles(
        m_pMainFrame, QStringLiteral("Import"), QtFilter(QStringLiteral("XYZ Intensity models (*.xyz,*.txt)|*.xyz;*.txt||")),
        false);
    if (chosen.isEmpty())
        return;
    const QString source = QFileInfo(chosen.first()).absoluteFilePath();
    const CBusyGuard busy;
    xyz::ImportNames names = xyz::PlanImport(source.toStdString());
    std::string why;
    if (!xyz::ReserveImport(names, &why)) {
        Prompt().Message(m_pMainFrame, QStringLiteral("Error converting the file: %1")
                                           .arg(QString::fromStdString(safefile::Printable(why, 1000))),
                         IPrompt::Icon::Error);
        return;
    }
    const bool exists = QFileInfo::exists(QString::fromStdString(names.finalModel));
    if (exists &&
        !Prompt().AskYesNo(m_pMainFrame, QStringLiteral("A converted 3d model named %1 already exists. Do you want to "
                                                        "overwrite it?")
                                             .arg(QString::fromStdString(names.baseName)))) {
        xyz::DiscardImport(names);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    xyz::ConvertResult result;
    {
        CVTKListenerDlg progress;
        result = xyz::ConvertXyzFile(source.toStdString(), names.tempModel, &progress, &why);
    }
    // Replaced only when the user said so: a model that appeared meanwhile stays.
    const bool ok = result == xyz::ConvertResult::Ok && xyz::FinishImport(names, &why, exists);
    QApplication::restoreOverrideCursor();
    Trace(QStringLiteral("import %1 %2").arg(source, ok ? QStringLiteral("ok") : QString::fromStdString(why)));
    if (!ok) {
        // Whatever happened, the model that was there stays as it was.
        xyz::DiscardImport(names);
        if (result != xyz::ConvertResult::Aborted)
            Prompt().Message(m_pMainFrame, QStringLiteral("Error converting the file. Please check input format."),
                             IPrompt::Icon::Error);
        return;
    }
    // Whatever showed the old model shows the new one: its own document is
    // closed and opened anew, documents that hold it among others reload it.
    const QString finalModel = QString::fromStdString(names.finalModel);
    if (CQuarlonFrame* stale = FindDocumentFrame(finalModel)) {
        // At once, not later: the new document must not find the old one.
        QWidget* window = stale->parentWidget();
        window->close();
        delete window;
    }
    for (CQuarlonFrame* frame : m_pMainFrame->Frames())
        frame->ReloadModel(finalModel);
    OpenDocumentFile(finalModel);
}

void CQuarlonApp::OnLoadSampleModel()
{
    const QString path = ProgramFolder() + QStringLiteral("/sampleModel/sampleModel.vtp");
    if (!QFileInfo(path).isFile()) {
        Prompt().Message(m_pMainFrame, QStringLiteral("Sample data is not available."), IPrompt::Icon::Information);
        return;
    }
    OpenDocumentFile(path);
}

void CQuarlonApp::OnAppAbout()
{
    CAboutDlg dlg(ProgramVersion(), m_pMainFrame);
    dlg.exec();
}

void CQuarlonApp::OnHelpTutorial()
{
    CTutorialDlg dlg(ProgramFolder() + QStringLiteral("/docs"), m_pMainFrame);
    dlg.exec();
}

void CQuarlonApp::OnMouseInteraction()
{
    CMouseInteractionDlg dlg(m_pMainFrame);
    dlg.exec();
}

void CQuarlonApp::OnPrint()
{
    CQuarlonFrame* frame = m_pMainFrame ? m_pMainFrame->ActiveFrame() : nullptr;
    if (!frame)
        return;
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(m_pPrinter.get(), m_pMainFrame);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!frame->GetView()->PrintTo(*m_pPrinter))
        Prompt().Message(m_pMainFrame, QStringLiteral("Unable to print the view."), IPrompt::Icon::Warning);
}

void CQuarlonApp::OnPrintSetup()
{
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPageSetupDialog dialog(m_pPrinter.get(), m_pMainFrame);
    dialog.exec();
}

void CQuarlonApp::OnAnotherInstance(const QString& path)
{
    if (!path.isEmpty() && m_pMainFrame) {
        Trace(QStringLiteral("received %1").arg(path));
        OpenDocumentFile(path);
        return;
    }
    if (!m_pMainFrame)
        return;
    Trace(QStringLiteral("raise"));
    // Back as it was: a maximised window comes back maximised.
    if (m_pMainFrame->isMinimized())
        m_pMainFrame->setWindowState((m_pMainFrame->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (!m_pMainFrame->isVisible())
        m_pMainFrame->show();
    m_pMainFrame->raise();
    m_pMainFrame->activateWindow();
}

namespace {

// Batch runs draw one document's view off screen at a fixed size.
void ShowOffscreen(CQuarlonFrame* frame, const QSize& size)
{
    frame->setAttribute(Qt::WA_DontShowOnScreen, true);
    frame->resize(size);
    frame->show();
    QCoreApplication::processEvents();
    frame->GetView()->OnInitialUpdate();
}

} // namespace

int CQuarlonApp::RunScreenshot(const QString& output, const QSize& size, const QStringList& files)
{
    // A batch run leaves the user's settings and the models' files alone.
    appsettings::SetReadOnly(true);
    QList<CQuarlonFrame*> frames;
    for (const QString& file : files) {
        auto* frame = new CQuarlonFrame;
        frame->GetFrameDocument()->SetSettingsReadOnly(true);
        if (frame->OpenDocument(file))
            frames << frame;
        else {
            std::fprintf(stderr, "quarlon: cannot open %s\n", qPrintable(file));
            delete frame;
        }
    }
    if (frames.isEmpty()) {
        std::fprintf(stderr, "quarlon: nothing could be opened for the screenshot\n");
        return 1;
    }
    ShowOffscreen(frames.first(), size);
    const QImage picture = frames.first()->GetView()->grabFramebuffer();
    int result = 0;
    if (picture.isNull() || !picture.save(output, "PNG")) {
        std::fprintf(stderr, "quarlon: cannot write %s\n", qPrintable(output));
        result = 1;
    }
    qDeleteAll(frames);
    return result;
}

int CQuarlonApp::RunPrint(const QString& file, const QString& pdf)
{
    appsettings::SetReadOnly(true);
    CQuarlonFrame frame;
    frame.GetFrameDocument()->SetSettingsReadOnly(true);
    if (!frame.OpenDocument(QFileInfo(file).absoluteFilePath())) {
        std::fprintf(stderr, "quarlon: cannot open %s\n", qPrintable(file));
        return 1;
    }
    ShowOffscreen(&frame, QSize(1024, 768));
    QPrinter printer(QPrinter::HighResolution);
    if (!pdf.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
    }
    if (!frame.GetView()->PrintTo(printer)) {
        std::fprintf(stderr, "quarlon: printing failed\n");
        return 1;
    }
    return 0;
}

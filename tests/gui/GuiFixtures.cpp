#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "core/common/AppSettings.h"
#include "gui/view/CQuarlonView.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>

#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <cstdlib>
#include <unistd.h>

namespace {
QString& Folder()
{
    static QString folder;
    return folder;
}
} // namespace

void GuiEnvironment::Prepare()
{
    static TempDir config;
    Folder() = QString::fromStdString(config.Path());
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    ::setenv("QUARLON_NO_SPLASH", "1", 1);
    const std::string instance = "quarlon-gui-test-" + std::to_string(getpid());
    ::setenv("QUARLON_INSTANCE", instance.c_str(), 1);
}

QString GuiEnvironment::ConfigFolder() { return Folder(); }

QString GuiEnvironment::SettingsFile() { return QString::fromStdString(appsettings::Path()); }

void GuiEnvironment::ResetSettings()
{
    QSettings().clear();
    QSettings().sync();
    QFile::remove(SettingsFile());
}

QPoint PixelOf(CQuarlonView* view, const double world[3])
{
    vtkRenderer* renderer = view->GetRenderer();
    renderer->SetWorldPoint(world[0], world[1], world[2], 1.0);
    renderer->WorldToDisplay();
    double d[3];
    renderer->GetDisplayPoint(d);
    const int h = view->GetRenderWindow()->GetSize()[1];
    const double dpr = view->devicePixelRatioF();
    return QPoint(static_cast<int>(d[0] / dpr), static_cast<int>((h - 1 - d[1]) / dpr));
}

void Settle(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    } while (t.elapsed() < ms);
}

void AppTest::SetUp()
{
    GuiEnvironment::ResetSettings();
    int code = 0;
    ASSERT_TRUE(app.InitInstance({QStringLiteral("quarlon")}, code));
    app.MainFrame()->resize(1000, 760);
}

QString AppTest::Model(const std::string& name, const ModelShape& shape)
{
    WriteModel(dir.File(name), shape);
    return QString::fromStdString(dir.File(name));
}

RenderCounter::RenderCounter(CQuarlonView* view) : m_view(view)
{
    vtkNew<vtkCallbackCommand> count;
    count->SetClientData(&m_count);
    count->SetCallback([](vtkObject*, unsigned long, void* data, void*) { ++*static_cast<int*>(data); });
    m_tag = view->GetRenderWindow()->AddObserver(vtkCommand::StartEvent, count);
}

RenderCounter::~RenderCounter() { m_view->GetRenderWindow()->RemoveObserver(m_tag); }

int RenderCounter::Take()
{
    const int n = m_count;
    m_count = 0;
    return n;
}

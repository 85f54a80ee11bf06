// The program as separate processes: screenshots, the single running copy
// and printing from the command line.
#include "GuiFixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct ProcessTest : ::testing::Test {
    TempDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString trace;

    void SetUp() override
    {
        ::mkdir(dir.File("config").c_str(), 0755);
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.File("config")));
        env.insert("QUARLON_INSTANCE", QStringLiteral("quarlon-proc-test-%1").arg(QCoreApplication::applicationPid()));
        env.insert("QUARLON_NO_SPLASH", "1");
        trace = QString::fromStdString(dir.File("trace.txt"));
        env.insert("QUARLON_TRACE_FILE", trace);
    }
    int Run(const QStringList& args, int timeoutMs = 60000, QString* err = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUARLON_EXE), args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }
    QString Trace() const
    {
        QFile f(trace);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool WaitForTrace(const QString& text, int ms = 20000) const
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (Trace().contains(text))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
};

QRgb Average(const QImage& img, const QRect& r)
{
    long long sr = 0, sg = 0, sb = 0, n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            sr += qRed(c), sg += qGreen(c), sb += qBlue(c), ++n;
        }
    return qRgb(static_cast<int>(sr / n), static_cast<int>(sg / n), static_cast<int>(sb / n));
}

} // namespace

TEST_F(ProcessTest, ScreenshotOfTheSampleModelFromTheTop)
{
    // Background colour from the settings file: 0x00BBGGRR, here pure blue.
    ::mkdir(dir.File("config/quarlon").c_str(), 0755);
    WriteText(dir.File("config/quarlon/quarlon.ini"), "[Color]\r\nBackground=16711680\r\n");
    const QString png = QString::fromStdString(dir.File("shot.png"));
    ASSERT_EQ(Run({"--screenshot", png, "--size", "800x600", QStringLiteral(QUARLON_SAMPLE_DIR "/sampleModel.vtp")}), 0);
    const QImage img(png);
    ASSERT_EQ(img.size(), QSize(800, 600));
    EXPECT_EQ(img.pixel(790, 10), qRgb(0, 0, 255)) << "background from the settings file";
    // The model fills the middle (not background) ...
    const QRgb middle = Average(img, QRect(350, 250, 100, 100));
    EXPECT_NE(middle, qRgb(0, 0, 255));
    EXPECT_GT(qGreen(middle), qBlue(middle)) << "terrain colours";
    // ... and the axes sit in the lower-left fifth.
    bool axes = false;
    for (int y = 480; y < 600 && !axes; ++y)
        for (int x = 0; x < 160 && !axes; ++x)
            axes = img.pixel(x, y) != qRgb(0, 0, 255);
    EXPECT_TRUE(axes);
    // The model is centred: as much background left as right of it.
    int left = 0, right = 799;
    while (left < 799 && img.pixel(left, 300) == qRgb(0, 0, 255))
        ++left;
    while (right > 0 && img.pixel(right, 300) == qRgb(0, 0, 255))
        --right;
    EXPECT_NEAR(left, 799 - right, 4);
}

TEST_F(ProcessTest, ScreenshotFailsWhenNothingOpens)
{
    WriteText(dir.File("bad.vtp"), "junk");
    QString err;
    EXPECT_EQ(Run({"--screenshot", QString::fromStdString(dir.File("x.png")), QString::fromStdString(dir.File("bad.vtp"))},
                  60000, &err),
              1);
    EXPECT_TRUE(err.contains("nothing could be opened")) << err.toStdString();
    EXPECT_FALSE(FileExists(dir.File("x.png")));
    EXPECT_EQ(Run({"--size", "12"}), 2);
}

TEST_F(ProcessTest, SecondStartHandsItsFileToTheFirstAndLeaves)
{
    WriteModel(dir.File("m.vtp"), {5, 5, true, {}});
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(QUARLON_EXE), QStringList());
    ASSERT_TRUE(WaitForTrace("started")) << Trace().toStdString();

    QElapsedTimer t;
    t.start();
    EXPECT_EQ(Run({QString::fromStdString(dir.File("m.vtp"))}, 20000), 0);
    ASSERT_TRUE(WaitForTrace("open " + QString::fromStdString(dir.File("m.vtp")) + " ok")) << Trace().toStdString();
    EXPECT_TRUE(Trace().contains("handed over " + QString::fromStdString(dir.File("m.vtp"))));
    EXPECT_EQ(Trace().count("started"), 1) << "the second copy never started a window";

    // Without a file the first copy only comes to the front.
    EXPECT_EQ(Run({}, 20000), 0);
    EXPECT_TRUE(WaitForTrace("raise"));

    // A print command does not hand over: it runs on its own.
    const QString pdf = QString::fromStdString(dir.File("out.pdf"));
    EXPECT_EQ(Run({"--print", QString::fromStdString(dir.File("m.vtp")), "--print-to-pdf", pdf}), 0);
    EXPECT_TRUE(QFileInfo(pdf).size() > 1000);

    first.terminate();
    if (!first.waitForFinished(5000))
        first.kill();
    first.waitForFinished();
}

TEST_F(ProcessTest, ScreenshotOfADenseCloudShowsAllItsPoints)
{
    // 90,000 points: nearly a fifth of the middle covered at the full level,
    // a hundredth of that at the preview level.
    WriteModel(dir.File("dense.vtp"), {300, 300, false, {}, false, [](int, int) { return 0.0; }});
    const QString png = QString::fromStdString(dir.File("dense.png"));
    ASSERT_EQ(Run({"--screenshot", png, "--size", "800x600", QString::fromStdString(dir.File("dense.vtp"))}), 0);
    const QImage img(png);
    ASSERT_EQ(img.size(), QSize(800, 600));
    const QRgb background = img.pixel(790, 10);
    int covered = 0;
    for (int y = 200; y < 400; ++y)
        for (int x = 300; x < 500; ++x)
            covered += img.pixel(x, y) != background;
    EXPECT_GT(covered, 200 * 200 / 10);
}

TEST_F(ProcessTest, BatchRunsWriteNoSettings)
{
    WriteModel(dir.File("m.vtp"), {5, 5, true, {}});
    const QString png = QString::fromStdString(dir.File("m.png"));
    ASSERT_EQ(Run({"--screenshot", png, QString::fromStdString(dir.File("m.vtp"))}), 0);
    ASSERT_EQ(Run({"--print", QString::fromStdString(dir.File("m.vtp")), "--print-to-pdf",
                   QString::fromStdString(dir.File("m.pdf"))}),
              0);
    EXPECT_FALSE(FileExists(dir.File("config/quarlon/quarlon.ini"))) << "the user's settings file";
    EXPECT_FALSE(FileExists(dir.File("m.ini"))) << "the model's settings file";
}

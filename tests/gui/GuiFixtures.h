#pragma once
#include "Fixtures.h"
#include "gui/app/CQuarlonApp.h"
#include "gui/common/Prompts.h"

#include <gtest/gtest.h>

#include <QPoint>
#include <QString>
#include <QStringList>
#include <vector>

class CQuarlonView;

// A private configuration folder, instance name and no splash for the
// whole test process; made before the application object.
struct GuiEnvironment {
    static void Prepare();
    static QString ConfigFolder();
    static QString SettingsFile(); // the application settings file
    static void ResetSettings();   // empties settings file and profile store
};

class RecordingPrompt : public IPrompt {
public:
    RecordingPrompt() { SetPrompt(this); }
    ~RecordingPrompt() override { SetPrompt(nullptr); }
    void Message(QWidget*, const QString& text, Icon icon) override
    {
        messages << text;
        icons.push_back(icon);
    }
    bool AskYesNo(QWidget*, const QString& text) override
    {
        messages << text;
        return answer;
    }
    QStringList messages;
    std::vector<Icon> icons;
    bool answer = true;
};

// Answers the file and colour choosers as a test sets it up.
struct FakeChooser : IChooser {
    QStringList files;
    QColor colour;
    bool accept = true;
    QString filter; // the filter of the last file dialog
    FakeChooser() { SetChooser(this); }
    ~FakeChooser() override { SetChooser(nullptr); }
    QStringList OpenFiles(QWidget*, const QString&, const QString& f, bool) override
    {
        filter = f;
        return files;
    }
    QColor ChooseColor(QWidget*, const QColor&, bool* ok) override
    {
        *ok = accept;
        return colour;
    }
    QString saveAs; // the answer of save dialogs; empty: cancelled
    QString SaveFile(QWidget*, const QString&, const QString& f, const QString&) override
    {
        filter = f;
        return saveAs;
    }
};

// A started application with a private folder for model files.
struct AppTest : ::testing::Test {
    TempDir dir;
    CQuarlonApp app;
    RecordingPrompt prompt;
    FakeChooser chooser;

    void SetUp() override;
    QString Model(const std::string& name, const ModelShape& shape);
};

// The window pixel (y downward, logical) where a render-coordinate point is drawn.
QPoint PixelOf(CQuarlonView* view, const double world[3]);
// Lets the windows settle: pending events and a short wait.
void Settle(int ms = 50);

// Counts the pictures a view's window draws while it lives: a picture of a
// large model at rest takes long, so what asks for one is tested.
class RenderCounter {
public:
    explicit RenderCounter(CQuarlonView* view);
    ~RenderCounter();
    RenderCounter(const RenderCounter&) = delete;
    RenderCounter& operator=(const RenderCounter&) = delete;
    // The pictures since the last call.
    int Take();

private:
    CQuarlonView* m_view;
    unsigned long m_tag;
    int m_count = 0;
};

#pragma once
// Message boxes and choosers go through these services, so that every
// command shows its exact texts and tests can answer the questions.
#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

class IPrompt {
public:
    enum class Icon { Warning, Information, Error, None };
    virtual ~IPrompt() = default;
    virtual void Message(QWidget* parent, const QString& text, Icon icon) = 0;
    // true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
};

class IChooser {
public:
    virtual ~IChooser() = default;
    // Empty when cancelled. `filter` uses the Qt form ("Label (*.a *.b);;...").
    virtual QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filter, bool multiple) = 0;
    virtual QColor ChooseColor(QWidget* parent, const QColor& initial, bool* accepted) = 0;
    // A file to write (overwriting confirmed; `suffix` added when the name
    // has none); empty when cancelled.
    virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter, const QString& suffix) = 0;
};

// The services in use; the real dialogs unless a test installed others.
IPrompt& Prompt();
IChooser& Chooser();
void SetPrompt(IPrompt* prompt);   // none restores the real one
void SetChooser(IChooser* chooser);

// "Label|*.a;*.b|Label2|*.c||" (the program's filter notation) in Qt's form.
QString QtFilter(const QString& pipeFilter);
// A file the user chose that did not load: "Unable to open PATH: REASON"
// as a warning; nothing for a load the user aborted.
void TellLoadFailure(QWidget* parent, const QString& path, const std::string& why);
// A file of several scans that opened, but not every scan whole: one
// warning listing "SCAN: WHAT" lines (failures, then scans cut short).
// Nothing when there is nothing to tell.
void TellScanProblems(QWidget* parent, const QString& path,
                      const std::vector<std::pair<std::string, std::string>>& problems);

// "Scan Files (...)|patterns|": other programs' formats the viewer opens,
// in either case, as one entry of a pipe filter.
QString ScanFilesPipeEntry();
// "All Supported Files|patterns|": models, projects and scan files.
QString AllFilesPipeEntry();

// Where file dialogs start: the folder `provider` names (the active
// document's), else the folder of the last file chosen, else the working
// folder. Every chooser remembers the folder of what was chosen.
void SetDialogFolderProvider(std::function<QString()> provider);
QString DialogStartFolder();

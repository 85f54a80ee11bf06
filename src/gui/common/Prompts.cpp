#include "gui/common/Prompts.h"

#include "core/common/SafeFile.h"

#include <QColorDialog>
#include <QFileInfo>
#include <QFileDialog>
#include <QMessageBox>

namespace {

class QtPrompt : public IPrompt {
public:
    void Message(QWidget* parent, const QString& text, Icon icon) override
    {
        const QString title = QStringLiteral("Quarlon");
        switch (icon) {
        case Icon::Warning: QMessageBox::warning(parent, title, text); break;
        case Icon::Information: QMessageBox::information(parent, title, text); break;
        case Icon::Error: QMessageBox::critical(parent, title, text); break;
        case Icon::None: {
            QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
            box.exec();
            break;
        }
        }
    }
    bool AskYesNo(QWidget* parent, const QString& text) override
    {
        // The program's questions carry the information icon.
        QMessageBox box(QMessageBox::Information, QStringLiteral("Quarlon"), text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        return box.exec() == QMessageBox::Yes;
    }
};

QString g_lastFolder;
std::function<QString()> g_folderProvider;

void Remember(const QStringList& chosen)
{
    if (!chosen.isEmpty())
        g_lastFolder = QFileInfo(chosen.first()).absolutePath();
}

class QtChooser : public IChooser {
public:
    QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filter, bool multiple) override
    {
        QStringList chosen;
        if (multiple) {
            chosen = QFileDialog::getOpenFileNames(parent, title, DialogStartFolder(), filter);
        } else {
            const QString one = QFileDialog::getOpenFileName(parent, title, DialogStartFolder(), filter);
            if (!one.isEmpty())
                chosen << one;
        }
        Remember(chosen);
        return chosen;
    }
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter, const QString& suffix) override
    {
        QFileDialog dialog(parent, title, DialogStartFolder(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(suffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        Remember(dialog.selectedFiles());
        return dialog.selectedFiles().first();
    }
    QColor ChooseColor(QWidget* parent, const QColor& initial, bool* accepted) override
    {
        const QColor c = QColorDialog::getColor(initial, parent);
        if (accepted)
            *accepted = c.isValid();
        return c;
    }
};

QtPrompt g_qtPrompt;
QtChooser g_qtChooser;
IPrompt* g_prompt = &g_qtPrompt;
IChooser* g_chooser = &g_qtChooser;

} // namespace

IPrompt& Prompt() { return *g_prompt; }
IChooser& Chooser() { return *g_chooser; }
void SetPrompt(IPrompt* prompt) { g_prompt = prompt ? prompt : &g_qtPrompt; }
void SetChooser(IChooser* chooser) { g_chooser = chooser ? chooser : &g_qtChooser; }

void TellLoadFailure(QWidget* parent, const QString& path, const std::string& why)
{
    if (why == "aborted")
        return;
    Prompt().Message(parent,
                     QStringLiteral("Unable to open %1: %2")
                         .arg(QString::fromStdString(safefile::Printable(path.toStdString(), 1000)),
                              QString::fromStdString(why.empty() ? "unknown reason" : safefile::Printable(why))),
                     IPrompt::Icon::Warning);
}

void TellScanProblems(QWidget* parent, const QString& path,
                      const std::vector<std::pair<std::string, std::string>>& problems)
{
    QStringList lines;
    for (const auto& p : problems) {
        if (p.second == "aborted")
            continue;
        if (lines.size() == 20) {
            lines << QStringLiteral("...");
            break;
        }
        lines << QStringLiteral("%1: %2").arg(QString::fromStdString(safefile::Printable(p.first, 300)),
                                             QString::fromStdString(safefile::Printable(p.second)));
    }
    if (lines.isEmpty())
        return;
    Prompt().Message(parent,
                     QStringLiteral("Not every scan of %1 was read whole:\n%2")
                         .arg(QString::fromStdString(safefile::Printable(path.toStdString(), 1000)), lines.join('\n')),
                     IPrompt::Icon::Warning);
}

void SetDialogFolderProvider(std::function<QString()> provider) { g_folderProvider = std::move(provider); }

QString DialogStartFolder()
{
    const QString active = g_folderProvider ? g_folderProvider() : QString();
    if (!active.isEmpty() && QFileInfo(active).isDir())
        return active;
    return g_lastFolder;
}

QString AllFilesPipeEntry()
{
    QStringList patterns{QStringLiteral("*.pvtp"), QStringLiteral("*.vtp"), QStringLiteral("*.vtk"),
                         QStringLiteral("*.mvtp")};
    for (const char* e : {"las", "laz", "ply", "pts", "obj", "stl", "e57", "ptx"})
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e)) << QStringLiteral("*.%1").arg(QString::fromLatin1(e).toUpper());
    return QStringLiteral("All Supported Files|%1|").arg(patterns.join(QLatin1Char(';')));
}

QString ScanFilesPipeEntry()
{
    QStringList patterns;
    for (const char* e : {"las", "laz", "ply", "pts", "obj", "stl", "e57", "ptx"})
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e)) << QStringLiteral("*.%1").arg(QString::fromLatin1(e).toUpper());
    return QStringLiteral("Scan Files (*.las;*.ply;*.pts;*.obj;*.stl;*.e57;*.ptx)|%1|").arg(patterns.join(QLatin1Char(';')));
}

QString QtFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns = patterns.simplified(); // "*.xyz;" names one pattern
        QString label = parts[i];
        // The label usually repeats the patterns in brackets; Qt reads those.
        const int bracket = label.indexOf(QLatin1Char('('));
        if (bracket >= 0)
            label = label.left(bracket).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(label, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

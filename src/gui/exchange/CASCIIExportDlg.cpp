#include "gui/exchange/CASCIIExportDlg.h"

#include "core/model/CScanPos.h"
#include "core/common/ProgressSink.h"
#include "gui/common/BusyGuard.h"
#include "gui/common/Prompts.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace exchange;

namespace {

// Control ids of the dialog's resource, kept as object names.
const int kOperatorIds[kAsciiVariables] = {1053, 1054, 1055, 1056, 1057, 1058, 1092};
const int kValueIds[kAsciiVariables] = {1043, 1044, 1045, 1047, 1048, 1049, 1093};
const int kColumnIds[kAsciiColumns] = {1061, 1062, 1063, 1065, 1066, 1067, 1068, 1069};
const char* const kRowLabels[kAsciiVariables] = {"X = x", "Y = y", "Z = z", "R = r", "G = g", "B = b", "Intensity"};
const char* const kColumnItems[kAsciiItems] = {"Id", "X", "Y", "Z", "R", "G", "B", "Intensity", "Endln", " "};

QString Id(int id) { return QStringLiteral("control%1").arg(id); }

QComboBox* List(QWidget* parent, int id, std::initializer_list<const char*> items)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(Id(id));
    for (const char* item : items)
        list->addItem(QString::fromLatin1(item));
    return list;
}

// The dialog's progress bar as the export's progress sink; the bar moves
// only when the whole percent changes.
class BarProgress : public IProgressSink {
public:
    BarProgress(QProgressBar* bar, const bool* abort) : m_bar(bar), m_abort(abort) {}
    bool SetText(const std::string&) override { return true; }
    void SetFraction(double fraction) override
    {
        const int percent = ProgressPercent(fraction);
        if (percent != m_bar->value())
            m_bar->setValue(percent);
    }
    bool IsAborted() const override { return *m_abort; }
    void PumpMessages() override { QApplication::processEvents(); }

private:
    QProgressBar* m_bar;
    const bool* m_abort;
};

} // namespace

CASCIIExportDlg::CASCIIExportDlg(CScanPos* model, QWidget* parent)
    : QDialog(parent), m_pModel(model), m_source(model ? AsciiSourceOf(*model) : AsciiSource())
{
    setObjectName(QStringLiteral("CASCIIExportDlg"));
    setWindowTitle(QStringLiteral("ASCII Export"));
    setModal(true);

    auto* variables = new QGroupBox(QStringLiteral("Variables"), this);
    auto* grid = new QGridLayout(variables);
    grid->addWidget(new QLabel(QStringLiteral("Lower case for input value, upper case for output value."), variables),
                    0, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Coordinates x, y, z are read as double."), variables), 1, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Colours r, g, b are read as unsigned char (0 to 255)."), variables), 2,
                    0, 1, 3);
    for (int v = 0; v < kAsciiVariables; ++v) {
        m_operators[v] = List(variables, kOperatorIds[v], {"*", "/", "+", "-"});
        m_values[v] = new QLineEdit(variables);
        m_values[v]->setObjectName(Id(kValueIds[v]));
        m_values[v]->setMaxLength(255);
        m_values[v]->setMinimumWidth(140);
        grid->addWidget(new QLabel(QString::fromLatin1(kRowLabels[v]), variables), 3 + v, 0);
        grid->addWidget(m_operators[v], 3 + v, 1);
        grid->addWidget(m_values[v], 3 + v, 2);
    }
    grid->setColumnStretch(3, 1); // the constants stay short, the notes keep their width

    auto* composition = new QGroupBox(QStringLiteral("Line composition "), this);
    auto* compose = new QVBoxLayout(composition);
    auto* formats = new QHBoxLayout;
    m_separator = List(composition, 1059, {"Space", "Tab", "Comma", "Semicolon", "Colon"});
    m_doubleFormat = List(composition, 1060, {"0", "0.0", "0.00", "0.000", "0.0000", "0.00000", "0.000000", "Eng"});
    m_colorFormat = List(composition, 1064, {"Integer", "Double"});
    formats->addWidget(new QLabel(QStringLiteral("Separator:"), composition));
    formats->addWidget(m_separator);
    formats->addWidget(new QLabel(QStringLiteral("Double format:"), composition));
    formats->addWidget(m_doubleFormat);
    formats->addWidget(new QLabel(QStringLiteral("Color format:"), composition));
    formats->addWidget(m_colorFormat);
    formats->addStretch();
    compose->addLayout(formats);
    auto* columns = new QHBoxLayout;
    for (int c = 0; c < kAsciiColumns; ++c) {
        m_columns[c] = new QComboBox(composition);
        m_columns[c]->setObjectName(Id(kColumnIds[c]));
        columns->addWidget(m_columns[c]);
    }
    compose->addLayout(columns);
    m_syntaxCheck = new QPushButton(QStringLiteral("Syntax check - Export simulation"), composition);
    m_syntaxCheck->setObjectName(Id(1051));
    m_syntaxCheck->setAutoDefault(false);
    compose->addWidget(m_syntaxCheck, 0, Qt::AlignLeft);
    m_simulation = new QLabel(QStringLiteral("......."), composition);
    m_simulation->setObjectName(Id(1052));
    m_simulation->setTextFormat(Qt::PlainText);
    m_simulation->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_simulation->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_simulation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_simulation->setMinimumHeight(6 * m_simulation->fontMetrics().lineSpacing());
    m_simulation->setFrameShape(QFrame::StyledPanel);
    compose->addWidget(m_simulation);

    auto* exportBox = new QGroupBox(QStringLiteral("Export"), this);
    auto* exportRow = new QHBoxLayout(exportBox);
    m_save = new QPushButton(QStringLiteral("Save.."), exportBox);
    m_save->setObjectName(Id(1070));
    m_save->setAutoDefault(false);
    m_progress = new QProgressBar(exportBox);
    m_progress->setObjectName(Id(1072));
    // Long exports can be stopped; the file that was there stays.
    m_abort = new QPushButton(QStringLiteral("Abort"), exportBox);
    m_abort->setObjectName(QStringLiteral("abort"));
    m_abort->setAutoDefault(false);
    m_abort->setEnabled(false);
    exportRow->addWidget(m_save);
    exportRow->addWidget(m_progress, 1);
    exportRow->addWidget(m_abort);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(Id(1));
    m_ok->setDefault(true);
    auto* okRow = new QHBoxLayout;
    okRow->addStretch();
    okRow->addWidget(m_ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(variables);
    layout->addWidget(composition);
    layout->addWidget(exportBox);
    layout->addLayout(okRow);

    connect(m_syntaxCheck, &QPushButton::clicked, this, &CASCIIExportDlg::OnSyntaxCheck);
    connect(m_save, &QPushButton::clicked, this, &CASCIIExportDlg::OnSaveAs);
    connect(m_abort, &QPushButton::clicked, this, [this] { m_abortRequested = true; });
    connect(m_ok, &QPushButton::clicked, this, &CASCIIExportDlg::accept);
    OnInitDialog();
}

int CASCIIExportDlg::DoModal()
{
    if (!m_source.data) {
        Prompt().Message(parentWidget(), QStringLiteral("An error occurred while retrieving model points coordinates!"),
                         IPrompt::Icon::Warning);
        return QDialog::Rejected;
    }
    return exec();
}

void CASCIIExportDlg::OnInitDialog()
{
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    for (QComboBox* column : m_columns)
        for (const char* item : kColumnItems)
            column->addItem(QString::fromLatin1(item));
    const AsciiDefinition d = ReadAsciiDefinition(AsciiDefinitionFileToRead());
    for (int v = 0; v < kAsciiVariables; ++v) {
        Select(m_operators[v], d.formula[v]);
        m_values[v]->setText(QString::fromStdString(d.value[v]));
    }
    Select(m_separator, d.separator);
    Select(m_doubleFormat, d.doubleFormat);
    Select(m_colorFormat, d.colorFormat);
    for (int c = 0; c < kAsciiColumns; ++c)
        Select(m_columns[c], d.composition[c]);
}

void CASCIIExportDlg::Select(QComboBox* list, int index)
{
    // Every list ends up with a selection; the definition's reading has
    // already replaced indexes outside their lists by the defaults.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : 0);
}

AsciiDefinition CASCIIExportDlg::Definition() const
{
    AsciiDefinition d;
    for (int v = 0; v < kAsciiVariables; ++v) {
        d.formula[v] = m_operators[v]->currentIndex();
        d.value[v] = m_values[v]->text().toStdString();
    }
    d.separator = m_separator->currentIndex();
    d.doubleFormat = m_doubleFormat->currentIndex();
    d.colorFormat = m_colorFormat->currentIndex();
    for (int c = 0; c < kAsciiColumns; ++c)
        d.composition[c] = m_columns[c]->currentIndex();
    return d;
}

void CASCIIExportDlg::OnSyntaxCheck() { RunExport(QString()); }

void CASCIIExportDlg::OnSaveAs()
{
    const QString path = Chooser().SaveFile(this, QStringLiteral("Save As"),
                                            QtFilter(QStringLiteral("XYZ|*.xyz;|TXT|*.txt;|ASC|*.asc||")),
                                            QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    EnableInputs(false);
    RunExport(path);
    EnableInputs(true);
}

void CASCIIExportDlg::RunExport(const QString& path)
{
    const AsciiDefinition definition = Definition();
    std::string why;
    if (path.isEmpty()) {
        std::string text;
        bool ok;
        {
            const CBusyGuard busy;
            ok = SimulateAsciiExport(m_source, definition, &text, &why);
        }
        if (!ok) {
            Prompt().Message(this, QString::fromStdString(why), IPrompt::Icon::Warning);
            return;
        }
        m_simulation->setText(QString::fromStdString(text));
        return;
    }
    m_progress->setValue(0);
    m_running = true;
    m_abortRequested = false;
    m_abort->setEnabled(true);
    BarProgress progress(m_progress, &m_abortRequested);
    ExportResult result;
    {
        const CBusyGuard busy;
        result = WriteAsciiExport(m_source, definition, path.toStdString(), &progress, &why);
    }
    m_abort->setEnabled(false);
    m_running = false;
    switch (result) {
    case ExportResult::Ok: Prompt().Message(this, QStringLiteral("Saving Finished"), IPrompt::Icon::Information); break;
    case ExportResult::Refused:
        m_progress->setValue(0);
        Prompt().Message(this, QString::fromStdString(why), IPrompt::Icon::Warning);
        break;
    case ExportResult::Aborted: m_progress->setValue(0); break;
    case ExportResult::Failed:
        m_progress->setValue(0); // nothing was saved
        Prompt().Message(this, QStringLiteral("Unable to write the file: %1").arg(QString::fromStdString(why)),
                         IPrompt::Icon::Warning);
        break;
    }
}

void CASCIIExportDlg::EnableInputs(bool enable)
{
    for (int v = 0; v < kAsciiVariables; ++v) {
        m_operators[v]->setEnabled(enable);
        m_values[v]->setEnabled(enable);
    }
    for (QComboBox* list : {m_separator, m_doubleFormat, m_colorFormat})
        list->setEnabled(enable);
    for (QComboBox* column : m_columns)
        column->setEnabled(enable);
    for (QPushButton* button : {m_syntaxCheck, m_ok, m_save})
        button->setEnabled(enable);
}

void CASCIIExportDlg::accept()
{
    if (m_running)
        return;
    std::string why;
    if (!WriteAsciiDefinition(AsciiDefinitionUserFile(), Definition(), &why))
        Prompt().Message(this,
                         QStringLiteral("Unable to save the export definition: %1").arg(QString::fromStdString(why)),
                         IPrompt::Icon::Warning);
    QDialog::accept();
}

void CASCIIExportDlg::reject()
{
    if (m_running) {
        m_abortRequested = true; // Escape or the close box while writing stops the export first
        return;
    }
    QDialog::reject();
}

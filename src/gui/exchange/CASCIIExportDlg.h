#pragma once
// "ASCII Export": composes the columns of a text export of one model,
// shows the first lines as a simulation and writes the file. The dialog
// only collects the definition; the export itself is the core's.
#include "core/exchange/AsciiExport.h"

#include <QDialog>

class CScanPos;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CASCIIExportDlg : public QDialog {
    Q_OBJECT
public:
    CASCIIExportDlg(CScanPos* model, QWidget* parent);

    // Without the model's points: the message, and Rejected without showing.
    int DoModal();

    // The definition the controls hold now.
    exchange::AsciiDefinition Definition() const;

public slots:
    void OnSyntaxCheck();
    void OnSaveAs();
    void accept() override; // OK: stores the definition
    void reject() override; // refused while a file is written

private:
    void OnInitDialog();
    // Empty path: the simulation.
    void RunExport(const QString& path);
    void EnableInputs(bool enable);
    void Select(QComboBox* list, int index);

    CScanPos* m_pModel;
    exchange::AsciiSource m_source;
    QComboBox* m_operators[exchange::kAsciiVariables];
    QLineEdit* m_values[exchange::kAsciiVariables];
    QComboBox* m_separator;
    QComboBox* m_doubleFormat;
    QComboBox* m_colorFormat;
    QComboBox* m_columns[exchange::kAsciiColumns];
    QPushButton* m_syntaxCheck;
    QLabel* m_simulation;
    QPushButton* m_save;
    QPushButton* m_abort;
    QProgressBar* m_progress;
    QPushButton* m_ok;
    bool m_running = false;
    bool m_abortRequested = false;
};

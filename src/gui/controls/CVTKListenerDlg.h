#pragma once
// The progress window of long pipeline runs: stage text, percentage, bar and
// a working Abort; it takes the input while it is up. Enter and Escape do
// not close it.
#include "core/common/ProgressSink.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

class CVTKListenerDlg : public QDialog, public IProgressSink {
    Q_OBJECT
public:
    // Shows itself at once; it lives for one operation.
    explicit CVTKListenerDlg(QWidget* parent = nullptr);
    ~CVTKListenerDlg() override;

    bool SetText(const std::string& text) override;
    void SetFraction(double fraction) override;
    bool IsAborted() const override { return m_nAbort != 0; }
    void OnAbortPending() override;
    void PumpMessages() override;

    QString StageText() const;
    QString PercentText() const;

public slots:
    void accept() override {}
    void reject() override {}
    void OnAbort() { m_nAbort = 1; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int m_nAbort = 0;
    bool m_bWaitCursor = false;
    QLabel* m_pStage;
    QLabel* m_pPercent;
    QProgressBar* m_pProgress;
    QPushButton* m_pAbort;
};

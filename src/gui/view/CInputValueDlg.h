#pragma once
// A one-value input box: the value as "%f" text, checked with the program's
// number check when read back.
#include <QDialog>

class QLineEdit;

class CInputValueDlg : public QDialog {
    Q_OBJECT
public:
    explicit CInputValueDlg(double initial, QWidget* parent = nullptr);
    // The typed value when it passes IsDoubleString, else the initial one.
    double GetDoubleValue() const;
    QString Value() const { return m_strValue; }
    QLineEdit* Edit() const { return m_pEdit; }

public slots:
    void accept() override;
    void reject() override;

private:
    QLineEdit* m_pEdit;
    QString m_strValue;
    QString m_strInitial;
};

#include "gui/view/CInputValueDlg.h"

#include "core/common/NumberChecks.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

CInputValueDlg::CInputValueDlg(double initial, QWidget* parent) : QDialog(parent), m_pEdit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("CInputValueDlg"));
    setWindowTitle(QStringLiteral("Quarlon"));
    char text[512];
    std::snprintf(text, sizeof text, "%f", initial);
    m_strValue = m_strInitial = QString::fromLatin1(text);
    m_pEdit->setObjectName(QStringLiteral("m_edtValue"));
    m_pEdit->setText(m_strValue);
    m_pEdit->selectAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pEdit);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CInputValueDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CInputValueDlg::reject);
    m_pEdit->setFocus();
}

void CInputValueDlg::accept()
{
    m_strValue = m_pEdit->text();
    QDialog::accept();
}

void CInputValueDlg::reject()
{
    m_strValue = m_strInitial;
    QDialog::reject();
}

double CInputValueDlg::GetDoubleValue() const
{
    double v = 0.0;
    if (IsDoubleString(m_strValue.toStdString(), &v))
        return v;
    IsDoubleString(m_strInitial.toStdString(), &v);
    return v;
}

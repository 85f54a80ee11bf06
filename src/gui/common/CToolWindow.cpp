#include "gui/common/CToolWindow.h"

#include <QCloseEvent>
#include <QLineEdit>

CToolWindow::CToolWindow(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint)
{
    setModal(false);
}

QLineEdit* CToolWindow::MakeField(const char* objectName, bool readOnly)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(objectName));
    edit->setReadOnly(readOnly);
    return edit;
}

void CToolWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    emit visibilityChanged();
}

void CToolWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    emit visibilityChanged();
}

void CToolWindow::closeEvent(QCloseEvent* event)
{
    // The close button acts as the window's own Close.
    accept();
    event->accept();
}

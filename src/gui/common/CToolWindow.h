#pragma once
// A document window's modeless tool window: a tool window with a caption
// and no system menu, that says when it is shown or hidden (the command's
// check mark follows) and hides when its close button is pressed.
#include <QDialog>

class QLineEdit;

class CToolWindow : public QDialog {
    Q_OBJECT
public:
    explicit CToolWindow(QWidget* parent);

    // A figure field with an object name for tests; read-only unless asked.
    QLineEdit* MakeField(const char* objectName, bool readOnly = true);

signals:
    void visibilityChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

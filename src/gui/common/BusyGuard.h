#pragma once
// Long work (loads, imports) pumps events so that its progress window
// repaints and Abort works. A window that closed meanwhile would delete the
// document under the running load; such closes wait for the work to end.
#include <QPointer>
#include <QWidget>

class CBusyGuard {
public:
    CBusyGuard();
    ~CBusyGuard();
    CBusyGuard(const CBusyGuard&) = delete;
    CBusyGuard& operator=(const CBusyGuard&) = delete;

    static bool IsBusy();
    // For a window's closeEvent: true when the close must wait; the window
    // is then closed once the work has ended.
    static bool DeferClose(QWidget* window);
};

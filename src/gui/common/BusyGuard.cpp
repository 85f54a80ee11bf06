#include "gui/common/BusyGuard.h"

#include <QList>
#include <QTimer>

namespace {
int g_busy = 0;
QList<QPointer<QWidget>>& Pending()
{
    static QList<QPointer<QWidget>> windows;
    return windows;
}
} // namespace

CBusyGuard::CBusyGuard() { ++g_busy; }

CBusyGuard::~CBusyGuard()
{
    if (--g_busy > 0 || Pending().isEmpty())
        return;
    // After the work has unwound, not inside its last call.
    const QList<QPointer<QWidget>> windows = Pending();
    Pending().clear();
    for (const QPointer<QWidget>& w : windows)
        QTimer::singleShot(0, w, [w] {
            if (w)
                w->close();
        });
}

bool CBusyGuard::IsBusy() { return g_busy > 0; }

bool CBusyGuard::DeferClose(QWidget* window)
{
    if (!IsBusy())
        return false;
    if (!Pending().contains(window))
        Pending().append(window);
    return true;
}

// Quarlon: the desktop viewer.
#include "gui/app/CQuarlonApp.h"
#include "core/common/VtkErrorCatcher.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QVTKOpenGLNativeWidget.h>

#include <clocale>

int main(int argc, char** argv)
{
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication application(argc, argv);
    // Companion and settings files are written with "." as decimal point.
    std::setlocale(LC_NUMERIC, "C");
    SilenceVtkOutput();

    CQuarlonApp app;
    int exitCode = 0;
    if (!app.InitInstance(QApplication::arguments(), exitCode))
        return exitCode;
    return QApplication::exec();
}

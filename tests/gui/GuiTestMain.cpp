// GUI tests run under Xvfb with a real application, real windows and a real
// OpenGL context. Settings go to a private folder; questions are answered
// by the recording prompt.
#include "GuiFixtures.h"

#include "core/common/VtkErrorCatcher.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QVTKOpenGLNativeWidget.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (ctest's discovery) needs no display.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    GuiEnvironment::Prepare();
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    SilenceVtkOutput();
    return RUN_ALL_TESTS();
}

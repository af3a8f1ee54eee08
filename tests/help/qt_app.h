#pragma once

#include <QGuiApplication>
#include <cstdlib>

namespace tavro::testing_qt {

// One application object for the whole test program, on the offscreen
// platform so that no display is needed; the viewers the tests start inherit it.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "help_viewer_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(argc, argv);
}

} // namespace tavro::testing_qt

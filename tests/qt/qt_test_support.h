#pragma once

#include "platform/toolkit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tavro::qttest {

// One application for the whole test program, on the offscreen platform so no
// display is needed. Hiding the last window must not end anything.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: Qt's own globals may already be gone at exit.
    static auto* app = new QApplication(argc, argv);
    (void)app;
    QApplication::setQuitOnLastWindowClosed(false);
}

// Runs the event loop until the condition holds or the time is up.
inline bool processUntil(const std::function<bool()>& condition, int timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Records what the window delivers, in order, as short texts.
class RecordingEvents final : public FormEvents {
public:
    void Form_Load() override { log.push_back("Load"); }
    void Form_Paint() override { log.push_back("Paint"); }
    void Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode) override {
        log.push_back("QueryUnload " + std::to_string(unloadMode));
        cancel = cancelReasons.count(unloadMode) ? 1 : 0;
    }
    void Form_Unload(std::int16_t&) override { log.push_back("Unload"); }
    void Timer1_Timer() override {
        ++ticks;
        if (onTick)
            onTick();
    }
    void Click(const std::string& control) override { log.push_back("Click " + control); }
    void DblClick(const std::string& control) override { log.push_back("DblClick " + control); }
    void HelpKey(const std::string& focusedControl) override { log.push_back("HelpKey " + focusedControl); }

    bool saw(const std::string& entry) const {
        for (const std::string& e : log)
            if (e == entry)
                return true;
        return false;
    }

    std::vector<std::string> log;
    int ticks = 0;
    std::function<void()> onTick;
    // Close reasons whose query the handler cancels, as the logic does for 0.
    std::multiset<std::int16_t> cancelReasons{0};
};

} // namespace tavro::qttest

#pragma once

#include <functional>

namespace tavro::qt {

// Runs a function when the process ends through exit() while an instance
// lives. Qt's X11 plugin ends the program that way, deep inside the event
// loop, when the connection to the X server breaks; main() returning or
// std::_Exit never run it, since the instance is gone or nothing runs then.
// The function runs among exit()'s handlers: it must not call exit() or
// anything that may (such as a Qt call that reaches for the display), and
// whatever it uses must have been in use before the first instance was made,
// so that it is not torn down yet. One instance at a time.
class ProcessExitHook {
public:
    explicit ProcessExitHook(std::function<void()> onExit);
    ~ProcessExitHook();
    ProcessExitHook(const ProcessExitHook&) = delete;
    ProcessExitHook& operator=(const ProcessExitHook&) = delete;

private:
    std::function<void()> m_onExit;
};

} // namespace tavro::qt

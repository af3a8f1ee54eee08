#include "platform/qt/process_exit_hook.h"

#include "platform/error.h"

#include <cstdlib>
#include <utility>

namespace tavro::qt {

namespace {

// exit() calls plain functions, so the armed hook lives here.
std::function<void()>* g_armed = nullptr;
bool g_registered = false;

extern "C" void runArmedHook() {
    // Taken first, so that it runs once even should it end in exit() itself.
    if (std::function<void()>* hook = std::exchange(g_armed, nullptr))
        (*hook)();
}

} // namespace

ProcessExitHook::ProcessExitHook(std::function<void()> onExit) : m_onExit(std::move(onExit)) {
    if (g_armed)
        throw Error(errc::InvalidProcedureCall, "The process exit is already hooked");
    // Handlers run in the reverse order of registration: registered now, the
    // hook runs before the teardown of whatever was set up until now.
    if (!g_registered) {
        if (std::atexit(runArmedHook) != 0)
            throw Error(errc::OutOfMemory, "Out of memory");
        g_registered = true;
    }
    g_armed = &m_onExit;
}

ProcessExitHook::~ProcessExitHook() {
    if (g_armed == &m_onExit)
        g_armed = nullptr;
}

} // namespace tavro::qt

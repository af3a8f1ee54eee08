#include "platform/qt/termination_signals.h"

#include "platform/error.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tavro::qt {

namespace {

constexpr std::array Handled{SIGTERM, SIGINT, SIGHUP};

// Written by the handler, so plain globals: the handler may touch nothing else.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[Handled.size()];

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (g_pipe[0] != -1)
        throw Error(errc::InvalidProcedureCall, "The termination signals are already handled");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Error(errc::PathFileAccess, "Cannot create the signal pipe");

    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readPipe(); });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &action, &g_previous[i]);
}

TerminationSignals::~TerminationSignals() {
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &g_previous[i], nullptr);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::readPipe() {
    unsigned char signals[16];
    ssize_t count = 0;
    while ((count = ::read(g_pipe[0], signals, sizeof signals)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            m_onSignal(signals[i]);
    }
}

} // namespace tavro::qt

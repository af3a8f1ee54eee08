#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace tavro::qt {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the user-interface thread.
// The signal handler only writes the signal's number to a pipe; the event loop
// reads it and calls onSignal. One instance at a time; the previous handlers
// come back when it is destroyed. Needs a QCoreApplication.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void readPipe();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace tavro::qt

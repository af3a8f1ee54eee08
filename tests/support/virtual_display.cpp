#include "tests/support/virtual_display.h"

#include "tests/support/process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavro::testing {

using namespace std::chrono_literals;

VirtualDisplay::VirtualDisplay() {
    // The server picks a free display itself and writes its number down the
    // pipe: no race with servers that other tests start side by side, and a
    // lock left behind by a killed server is seen as stale and reused.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    const std::string writeEnd = std::to_string(ends[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::fcntl(ends[1], F_SETFD, 0); // the one descriptor the server keeps
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", writeEnd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return;
    }
    ::setpgid(pid, pid);
    m_pid = pid;

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (number.empty() || number.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{ends[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            break;
        char chunk[16];
        const ssize_t got = ::read(ends[0], chunk, sizeof chunk);
        if (got <= 0)
            break; // the server ended without a display
        number.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    if (number.empty() || number.back() != '\n') {
        stop();
        return;
    }
    number.pop_back();
    m_name = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
    stop();
}

void VirtualDisplay::stop() {
    if (m_pid <= 0)
        return;
    // Asked politely first, so that the server removes its lock and socket.
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            killGroup(m_pid);
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    m_pid = -1;
}

} // namespace tavro::testing

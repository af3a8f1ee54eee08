#include "tests/cdp/chromium_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavro::testing {

namespace {

using namespace std::chrono_literals;

} // namespace

pid_t spawnInGroup(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A group of its own, so the browser's helper processes end with it.
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        for (const std::string& e : environment)
            ::putenv(const_cast<char*>(e.c_str()));
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

void killGroup(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
}

namespace {

bool hasPortFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::file_size(path, ec) > 0 && !ec;
}

} // namespace

ChromiumProcess::ChromiumProcess(ChromiumOptions options) : m_options(std::move(options)) {
    m_profile = m_options.profile;
    if (m_profile.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-chromium-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a profile folder");
        m_profile = pattern;
        m_ownProfile = true;
    }
}

ChromiumProcess::~ChromiumProcess() {
    kill();
    if (m_ownProfile) {
        std::error_code ignored;
        std::filesystem::remove_all(m_profile, ignored);
    }
}

void ChromiumProcess::start() {
    if (running())
        return;
    std::error_code ignored;
    std::filesystem::remove(portFile(), ignored);

    const char* binary = std::getenv("TAVRO_CHROMIUM");
    std::vector<std::string> arguments{binary != nullptr && *binary != '\0' ? binary : "chromium",
                                       "--user-data-dir=" + m_profile,
                                       "--remote-debugging-port=0",
                                       "--remote-debugging-address=127.0.0.1",
                                       "--no-first-run",
                                       "--no-default-browser-check",
                                       "--disable-background-networking",
                                       "--disable-component-update",
                                       "--disable-sync",
                                       "--disable-default-apps",
                                       "--disable-extensions",
                                       "--disable-dev-shm-usage",
                                       "--disable-session-crashed-bubble",
                                       "--password-store=basic",
                                       "--disable-popup-blocking"};
    if (::geteuid() == 0)
        arguments.emplace_back("--no-sandbox");
    std::vector<std::string> environment;
    if (m_options.display.empty()) {
        arguments.emplace_back("--headless");
    } else {
        environment.push_back("DISPLAY=" + m_options.display);
        arguments.emplace_back("--ozone-platform=x11");
    }
    for (const std::string& extra : m_options.extraArguments)
        arguments.push_back(extra);
    arguments.emplace_back("about:blank");

    m_pid = spawnInGroup(arguments, environment);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!hasPortFile(portFile())) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("chromium ended before it opened its debugging port");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill();
            throw std::runtime_error("chromium did not open its debugging port within 30 s");
        }
        std::this_thread::sleep_for(20ms);
    }
    // The file is written in one go, but give the second line a moment.
    std::this_thread::sleep_for(50ms);
}

void ChromiumProcess::kill() {
    killGroup(m_pid);
}

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

#include "platform/posix/desktop_opener.h"

#include "platform/error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavro {

namespace {

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

DesktopOpener::DesktopOpener(std::string command, std::chrono::milliseconds wait)
    : m_command(std::move(command)), m_wait(wait) {}

DesktopOpener::~DesktopOpener() {
    reapFinished();
}

bool DesktopOpener::available() const {
    if (m_command.find('/') != std::string::npos)
        return isExecutable(m_command);
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && isExecutable(folder + "/" + m_command))
            return true;
        start = end + 1;
    }
    return false;
}

void DesktopOpener::reapFinished() {
    std::erase_if(m_running, [](pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) != 0;
    });
}

void DesktopOpener::open(const std::string& url) {
    reapFinished();
    std::string command = m_command;
    std::string argument = url;
    char* argv[] = {command.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, command.c_str(), nullptr, nullptr, argv, environ);
    if (spawned != 0)
        throw Error(errc::FileNotFound,
                    "The default web browser could not be started: " + std::string(std::strerror(spawned)));

    // The opener usually hands the address over and ends within moments; some
    // stay until the browser they started ends, and those are left to run.
    const auto deadline = std::chrono::steady_clock::now() + m_wait;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return;
            throw Error(errc::AutomationError, "The default web browser could not open " + url);
        }
        if (done < 0 && errno != EINTR)
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            m_running.push_back(pid);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace tavro

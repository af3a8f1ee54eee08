#include "platform/posix/browser_list.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tavro {

std::string browserListScript() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> candidates;
    if (!error) {
        const fs::path folder = program.parent_path();
        candidates.push_back(folder.parent_path().parent_path() / "share/tavro-popup-blocker/browsers.py");
        candidates.push_back(folder.parent_path() / "share/tavro-popup-blocker/browsers.py");
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        candidates.push_back(fs::path(data) / "tavro-popup-blocker/browsers.py");
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        candidates.push_back(fs::path(home) / ".local/share/tavro-popup-blocker/browsers.py");
    for (const fs::path& candidate : candidates) {
        if (fs::is_regular_file(candidate, error))
            return candidate.string();
    }
    return {};
}

std::optional<std::string> runBrowserList(const std::string& script, std::chrono::milliseconds deadline) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string python = "python3";
    std::string path = script;
    std::string command = "list";
    char* argv[] = {python.data(), path.data(), command.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, python.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return std::nullopt;
    }

    std::string output;
    bool timedOut = false;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd watch{fds[0], POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        std::array<char, 4096> buffer{};
        const ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

} // namespace tavro

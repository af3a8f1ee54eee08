#include "browsers/mirror/profile_files.h"

#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavro::browsers {

namespace {

// The home folder from the environment, else from the user database; empty
// unless it is absolute.
std::string homeFolder() {
    std::string home;
    if (const char* fromEnvironment = std::getenv("HOME"); fromEnvironment != nullptr)
        home = fromEnvironment;
    if (home.empty()) {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            home = found->pw_dir;
    }
    return !home.empty() && home.front() == '/' ? home : std::string();
}

} // namespace

std::string programDataFolder() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        base = data;
    else if (const std::string home = homeFolder(); !home.empty())
        base = home + "/.local/share";
    else
        return {};
    return base + "/tavro-popup-blocker";
}

std::optional<std::string> readOwnFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<std::string> text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        (info.st_mode & S_IWOTH) == 0 && static_cast<std::size_t>(info.st_size) <= maxBytes) {
        std::string content(static_cast<std::size_t>(info.st_size), '\0');
        const ssize_t got = ::read(fd, content.data(), content.size());
        if (got >= 0) {
            content.resize(static_cast<std::size_t>(got));
            text = std::move(content);
        }
    }
    ::close(fd);
    return text;
}

} // namespace tavro::browsers

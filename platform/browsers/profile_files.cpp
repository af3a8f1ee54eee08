#include "platform/browsers/profile_files.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::browsers {

std::string programDataFolder() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        base = data;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.local/share";
    else
        base = ".";
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

#include "platform/posix/stale_temporaries.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <dirent.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace tavro {

namespace {

// The number of the process that wrote a temporary file, from what follows
// the prefix in its name ("<process>-<counter>"); nullopt for any other name.
std::optional<pid_t> writerOf(std::string_view rest) {
    pid_t pid = 0;
    const char* end = rest.data() + rest.size();
    auto [next, error] = std::from_chars(rest.data(), end, pid);
    if (error != std::errc() || pid <= 0 || next == end || *next != '-')
        return std::nullopt;
    unsigned long counter = 0;
    auto [last, counterError] = std::from_chars(next + 1, end, counter);
    if (counterError != std::errc() || last != end)
        return std::nullopt;
    return pid;
}

// Whether the process may still be writing. One that exists but is not ours
// to signal exists all the same; this process writes nothing while it asks.
bool mayStillWrite(pid_t pid) {
    if (pid == ::getpid())
        return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

void removeStaleTemporaries(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (!entryName.starts_with(prefix))
            continue;
        const std::optional<pid_t> writer = writerOf(entryName.substr(prefix.size()));
        if (writer && !mayStillWrite(*writer))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace tavro

#include "browsers/wire/socket_place.h"

#include "platform/posix/private_folder.h"

#include <cstdlib>
#include <unistd.h>

namespace tavro::wire {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string socketPath(std::string* error) {
    return socketPathIn(environment("XDG_RUNTIME_DIR"), error);
}

std::string socketPathIn(const std::string& runtimeFolder, std::string* error) {
    std::string folder;
    if (!runtimeFolder.empty() && runtimeFolder.front() == '/') {
        folder = runtimeFolder + "/tavro-popup-blocker";
    } else {
        std::string temporary = environment("TMPDIR");
        if (temporary.empty() || temporary.front() != '/')
            temporary = "/tmp";
        folder = temporary + "/tavro-popup-blocker-" + std::to_string(::geteuid());
    }
    // Checked in either place: the name beside the temporary files is one
    // that anyone can guess and make first, and a runtime folder is only as
    // private as whoever set the variable made it.
    const std::string why = ensurePrivateFolder(folder);
    if (!why.empty()) {
        if (error != nullptr)
            *error = folder + ": " + why;
        return {};
    }
    return folder + "/extension.sock";
}

} // namespace tavro::wire

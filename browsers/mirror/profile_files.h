#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The files through which a browser the program started tells where it
// listens, and the folder of the program's own browser profiles.
namespace tavro::browsers {

// $XDG_DATA_HOME/tavro-popup-blocker, or ~/.local/share/... without it.
// Empty when no absolute folder is known: never one relative to the working
// folder.
std::string programDataFolder();

// The text of a small regular file owned by the user who runs the program,
// or nothing: a file another user could have written may send the program
// to a listener of theirs, and a large one is not a browser's.
std::optional<std::string> readOwnFile(const std::string& path, std::size_t maxBytes = 4096);

} // namespace tavro::browsers

#pragma once

#include <string>

namespace tavro {

// Makes sure the folder is this user's and closed to everyone else, creating
// it with mode 0700 when missing. Returns an empty text when it is; otherwise
// why not: it is a link or no folder, belongs to another user, or is open to
// others. Another user can make a folder of a guessable name in a shared place
// first; what lives in it (a lock, a socket) must not be trusted to them.
std::string ensurePrivateFolder(const std::string& folder);

} // namespace tavro

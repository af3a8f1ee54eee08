#pragma once

#include <string>

namespace tavro::wire {

// Where the program listens for the extension's host, one place per user:
// "extension.sock" in the folder "tavro-popup-blocker" of the runtime folder
// ($XDG_RUNTIME_DIR), or, without one, in "tavro-popup-blocker-<uid>" beside
// the temporary files. The folder is made first, with mode 0700. Empty, with
// error set, when that folder is a link or no folder, belongs to another user
// or is open to others: what listens there could be anyone's.
std::string socketPath(std::string* error = nullptr);
// As above, with the runtime folder given; empty stands for none.
std::string socketPathIn(const std::string& runtimeFolder, std::string* error = nullptr);

} // namespace tavro::wire

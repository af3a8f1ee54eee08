#pragma once

#include <string>

namespace tavro {

// Removes, in folder, the temporary files whose names start with prefix and
// end in "<process>-<counter>", of processes that no longer run: a save that
// was killed midway leaves its file behind, and only its writer could still
// finish it.
void removeStaleTemporaries(const std::string& folder, const std::string& prefix);

} // namespace tavro

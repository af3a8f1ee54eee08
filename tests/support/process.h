#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavro::testing {

// Starts a program in a process group of its own, its output discarded, with
// these extra environment entries ("NAME=value").
pid_t spawnInGroup(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);
// Kills the group and reaps its leader; pid is -1 afterwards.
void killGroup(pid_t& pid);

} // namespace tavro::testing

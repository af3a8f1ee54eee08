#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class Quellit;

inline constexpr int BlockToneHz = 800;
inline constexpr int BlockToneMs = 25;

// One tick of Timer1: walks the open browser windows and closes script-opened
// pop-ups from domains that are not allowed; while Ctrl is held it closes none
// and lets the newest of them through. Reports nothing; every failure is
// absorbed step by step.
void Timer1_Timer(Quellit& form);

// A location URL split at "/" into at most four parts, the last keeping the
// rest of the text. The empty URL has no parts.
std::vector<std::string> splitUrl(std::string_view url);

} // namespace tavro

#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tavro {

// Where `browsers.py` is: beside an installed program's share folder
// (<prefix>/share/tavro-popup-blocker, the program being in
// <prefix>/lib/tavro-popup-blocker), beside a build's bin folder, or where the
// per-user install puts it ($XDG_DATA_HOME/tavro-popup-blocker). Empty when
// none of them has it.
std::string browserListScript();

// The output of `browsers.py list` run through python3, or nothing when it
// cannot be run, fails, or takes longer than deadline (it is then killed).
std::optional<std::string> runBrowserList(const std::string& script, std::chrono::milliseconds deadline);

} // namespace tavro

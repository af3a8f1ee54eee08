#pragma once

#include <cstdint>
#include <string_view>

namespace tavro {

class Quellit;

// The vendor's update server, set when the program is built.
inline constexpr std::string_view UpdateServer = TAVRO_UPDATE_SERVER;

// The version this program reports to the update check: 2.7 without its point.
// Kept apart from the version numbers on purpose; the version file on the
// server is written in this form.
inline constexpr std::int16_t OwnVersionNumber = 27;

inline constexpr std::string_view CurrentVersionText =
    "Your current version is 2.7 There are currently no updates available";
inline constexpr std::string_view UpdateFailureText =
    "Error Opening URL, please make sure your connected to Internet";

// "Check for Updates": asks the update server for the current version and
// either says the program is current or opens the upgrade page in a new
// browser window. Every failure ends in one message; nothing leaves it.
void Command2_Click(Quellit& form);
// The same against another server; the tests' server on loopback.
void Command2_Click(Quellit& form, std::string_view updateServer);

} // namespace tavro

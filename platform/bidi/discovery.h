#pragma once

#include "platform/websocket/json_connection.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::bidi {

using websocket::Clock;
using websocket::Connection;
using websocket::Json;
using websocket::resultOf;

// The folder of the program's own Firefox profile:
// $XDG_DATA_HOME/tavro-popup-blocker/firefox, or ~/.local/share/... without it.
std::string firefoxProfileFolder();

// The WebDriverBiDiServer.json files a Firefox started with
// --remote-debugging-port=0 writes into its profile, tried in order. The
// browser is only ever reached on 127.0.0.1, whatever a file says.
struct FirefoxPlaces {
    std::vector<std::string> serverFiles;
};

// The program's own Firefox profile.
FirefoxPlaces defaultFirefoxPlaces();

// The port a WebDriverBiDiServer.json file names, or nothing when the file is
// missing, not the user's own, not of that form or names a host other than
// the loopback address.
std::optional<std::uint16_t> readServerFile(const std::string& path);

// Connects to the first place where the user's own Firefox listens; nullptr
// when nothing of the user's listens at any of them, and an Error when a
// listener was found but did not take the connection.
std::unique_ptr<Connection> connectToFirefox(const FirefoxPlaces& places,
                                             std::chrono::milliseconds timeoutEach);

} // namespace tavro::bidi

#pragma once

#include "platform/browsers/browser_search.h"
#include "platform/browsers/timeouts.h"
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
using websocket::stringField;

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

// Connects to the first place where the user's own Firefox listens and
// starts a session there; nullptr when no Firefox of the user's serves one.
// A place that listens but does not serve a session (not a Firefox, one that
// never answers, or one whose session another client holds) rests in backoff.
std::unique_ptr<Connection> connectToFirefox(const FirefoxPlaces& places, const browsers::Timeouts& timeouts,
                                             browsers::PlaceBackoff& backoff);

// Starts a WebDriver BiDi session on c; raises an Error when Firefox refuses
// or does not answer within the timeout.
void startSession(Connection& c, std::chrono::milliseconds timeout);

} // namespace tavro::bidi

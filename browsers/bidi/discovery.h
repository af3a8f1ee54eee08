#pragma once

#include "browsers/mirror/places.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavro::bidi {

// The folder of the program's own Firefox profile:
// $XDG_DATA_HOME/tavro-popup-blocker/firefox, or ~/.local/share/... without it.
// Empty when no absolute folder is known: never one relative to the working
// folder.
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

// The places to try, in order.
std::vector<browsers::Place> placesOf(const FirefoxPlaces& places);

} // namespace tavro::bidi

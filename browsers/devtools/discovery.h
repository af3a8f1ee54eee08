#pragma once

#include "browsers/mirror/places.h"
#include "browsers/wire/websocket.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::devtools {

using wire::Channel;
using wire::Clock;
using wire::Json;
using wire::resultOf;

// Where a browser with a debugging port may be found, tried in order. The
// browser is only ever reached on 127.0.0.1, whatever a file says.
struct BrowserPlaces {
    // DevToolsActivePort files: the port on the first line, the browser's
    // WebSocket path on the second. A browser started with
    // --remote-debugging-port=0 writes one into its profile folder.
    std::vector<std::string> portFiles;
    // Fixed debugging ports, asked for their WebSocket path over HTTP.
    std::vector<std::uint16_t> ports;
};

// The program's own browser profile first, then the usual fixed port.
BrowserPlaces defaultBrowserPlaces();

// The folder of the program's own browser profile:
// $XDG_DATA_HOME/tavro-popup-blocker/browser, or ~/.local/share/... without it.
// Empty when no absolute folder is known: never one relative to the working
// folder.
std::string browserProfileFolder();

using browsers::Endpoint;

// The endpoint a DevToolsActivePort file names, or nothing when the file is
// missing, not of that form, not a regular file of the user's own, or a link.
std::optional<Endpoint> readPortFile(const std::string& path);

// The browser WebSocket path that a browser's /json/version names; raises an
// Error when nothing on the port answers as a browser within the timeout.
std::string askBrowserPath(std::uint16_t port, std::chrono::milliseconds timeout);

// The places to try, in order: each port file, then each fixed port.
std::vector<browsers::Place> placesOf(const BrowserPlaces& places);

} // namespace tavro::devtools

#pragma once

#include "browsers/wire/websocket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Where a browser of the user's may listen, and the one way of trying those
// places that every browser adapter shares.
namespace tavro::browsers {

using wire::Clock;
using wire::WebSocket;

// Where a browser's WebSocket is: always on 127.0.0.1, whatever a file says.
struct Endpoint {
    std::uint16_t port = 0;
    // Empty when the listener has to be asked for it.
    std::string path;
};

// One place to look for a browser.
struct Place {
    // What the place is known by in the rests: a file's path, or "port N".
    std::string name;
    // Where a browser listens there now; nothing when no browser has said so.
    std::function<std::optional<Endpoint>()> locate;
    // Asks the listener for its WebSocket path where locate could not tell;
    // raises an Error when the listener does not answer as a browser.
    std::function<std::string(std::uint16_t port, std::chrono::milliseconds timeout)> askPath;
};

// Places that were listening yet did not answer as a browser rest for a
// while, longer after each failure, so a dead or hostile listener is not
// asked again at once. A place where nothing listens costs nothing to try and
// never rests: a browser that starts there is found at once.
class PlaceBackoff {
public:
    bool resting(const std::string& place, Clock::time_point now) const;
    void failed(const std::string& place, Clock::time_point now);
    void answered(const std::string& place) { m_places.erase(place); }

private:
    struct Rest {
        int failures = 0;
        Clock::time_point until;
    };
    std::map<std::string, Rest> m_places;
};

// A connection and the place it was found at.
struct Found {
    std::unique_ptr<WebSocket> connection;
    std::string place;
};

// Connects to the first place where the user's own browser listens and
// accepts; nothing when there is none. A listener of another user is passed
// over as no browser; one that listens but does not answer as a browser rests.
Found connectToFirst(const std::vector<Place>& places, PlaceBackoff& backoff,
                     std::chrono::milliseconds timeoutEach);

// A folder of the program's own browser profiles, under programDataFolder();
// empty when that is unknown, so that no place is ever relative to the
// working folder.
std::string profileFolder(const std::string& name);

} // namespace tavro::browsers

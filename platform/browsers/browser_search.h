#pragma once

#include "platform/websocket/json_connection.h"

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>

namespace tavro::browsers {

using websocket::Clock;
using websocket::Connection;

// Places that were listening yet did not answer as a browser rest for a
// while, longer after each failure, so a dead or hostile listener is not
// asked at every tick. A place where nothing listens costs nothing to try and
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

// Looks for a browser on a thread of its own, so that a place that accepts a
// connection and then says nothing holds up nobody but that thread. One
// search runs at a time; the thread that asks only ever looks at its result.
class BrowserSearch final {
public:
    // Finds a connection that has proved to be the browser's, or returns
    // nullptr or raises when there is none; it keeps its own rests in the
    // backoff it is given, which only the searching thread touches.
    using Finder = std::function<std::unique_ptr<Connection>(PlaceBackoff&)>;

    explicit BrowserSearch(Finder find) : m_find(std::move(find)) {}
    // Waits for a search under way, which its timeouts bound.
    ~BrowserSearch();
    BrowserSearch(const BrowserSearch&) = delete;
    BrowserSearch& operator=(const BrowserSearch&) = delete;

    // The connection a finished search found, else nullptr. Starts a search
    // when none is under way, and waits for it no longer than patience.
    std::unique_ptr<Connection> take(std::chrono::milliseconds patience);
    // Waits for a search under way and hands over what it found; starts none.
    std::unique_ptr<Connection> finish();

private:
    std::unique_ptr<Connection> search();

    const Finder m_find;
    // Touched by the running search alone; the next one starts after its
    // result has been taken.
    PlaceBackoff m_backoff;
    std::future<std::unique_ptr<Connection>> m_running;
};

} // namespace tavro::browsers

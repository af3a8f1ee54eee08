#pragma once

#include "platform/cdp/discovery.h"

#include <chrono>
#include <future>
#include <memory>

namespace tavro::cdp {

// Looks for the browser on a thread of its own, so that a place that accepts
// a connection and then says nothing holds up nobody but that thread. One
// search runs at a time; the thread that asks only ever looks at its result.
class BrowserSearch final {
public:
    BrowserSearch(BrowserPlaces places, std::chrono::milliseconds timeoutEach)
        : m_places(std::move(places)), m_timeoutEach(timeoutEach) {}
    // Waits for a search under way, which its timeouts bound.
    ~BrowserSearch();
    BrowserSearch(const BrowserSearch&) = delete;
    BrowserSearch& operator=(const BrowserSearch&) = delete;

    // The connection a finished search found, else nullptr. Starts a search
    // when none is under way, and waits for it no longer than patience.
    std::unique_ptr<Connection> take(std::chrono::milliseconds patience);

private:
    std::unique_ptr<Connection> search();

    const BrowserPlaces m_places;
    const std::chrono::milliseconds m_timeoutEach;
    // Touched by the running search alone; the next one starts after its
    // result has been taken.
    PlaceBackoff m_backoff;
    std::future<std::unique_ptr<Connection>> m_running;
};

} // namespace tavro::cdp

#pragma once

#include "platform/browsers/browser_search.h"
#include "platform/browsers/timeouts.h"
#include "platform/cdp/discovery.h"
#include "platform/error.h"
#include "platform/websocket/json_connection.h"

#include <chrono>
#include <functional>
#include <memory>

namespace tavro::cdp {

using browsers::Timeouts;

// The one connection to the user's browser, shared by the collection of its
// pages and the new windows the program opens. When the browser goes away it
// is looked for again at the next use, so a restarted browser is found without
// anything being reported.
class BrowserLink final {
public:
    BrowserLink(BrowserPlaces places, Timeouts timeouts)
        : m_search([places = std::move(places), each = timeouts.connect](browsers::PlaceBackoff& backoff) {
              return connectToBrowser(places, each, &backoff);
          }),
          m_timeouts(timeouts) {}
    BrowserLink(const BrowserLink&) = delete;
    BrowserLink& operator=(const BrowserLink&) = delete;

    // The open connection, or the one the search has found; raises an Error
    // while there is none, and the search goes on.
    Connection& connection() {
        if (!m_connection || !m_connection->isOpen()) {
            m_connection.reset();
            m_connection = m_search.take(m_timeouts.search);
            if (!m_connection)
                throw Error(errc::AutomationError, "No browser with a debugging port has been found");
            ++m_generation;
            if (onConnected)
                onConnected(*m_connection);
        }
        return *m_connection;
    }
    // The open connection, or nullptr; never looks for a browser.
    Connection* openConnection() {
        return m_connection && m_connection->isOpen() ? m_connection.get() : nullptr;
    }
    // Goes up with every new connection, so facts kept about the pages of an
    // earlier browser can be dropped.
    unsigned generation() const { return m_generation; }
    const Timeouts& timeouts() const { return m_timeouts; }

    // Called with every new connection, before anything is asked on it.
    std::function<void(Connection&)> onConnected;

private:
    browsers::BrowserSearch m_search;
    Timeouts m_timeouts;
    std::unique_ptr<Connection> m_connection;
    unsigned m_generation = 0;
};

} // namespace tavro::cdp

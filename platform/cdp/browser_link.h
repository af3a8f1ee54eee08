#pragma once

#include "platform/browsers/timeouts.h"
#include "platform/cdp/discovery.h"
#include "platform/websocket/json_connection.h"

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
        : m_places(std::move(places)), m_timeouts(timeouts) {}
    BrowserLink(const BrowserLink&) = delete;
    BrowserLink& operator=(const BrowserLink&) = delete;

    // The open connection, connecting again when there is none; raises an
    // Error when no browser answers.
    Connection& connection() {
        if (!m_connection || !m_connection->isOpen()) {
            m_connection.reset();
            m_connection = connectToBrowser(m_places, m_timeouts.connect);
            ++m_generation;
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

private:
    BrowserPlaces m_places;
    Timeouts m_timeouts;
    std::unique_ptr<Connection> m_connection;
    unsigned m_generation = 0;
};

} // namespace tavro::cdp

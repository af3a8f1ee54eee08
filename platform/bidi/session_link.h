#pragma once

#include "platform/bidi/discovery.h"
#include "platform/browsers/timeouts.h"

#include <chrono>
#include <memory>

namespace tavro::bidi {

using browsers::Timeouts;

// The one WebDriver BiDi session with the user's Firefox, shared by the
// collection of its pages and the new windows the program opens. Firefox
// serves one session at a time: while another client holds it, that Firefox
// reads as absent and is asked again later, less often each time. The
// session is ended when the link goes, so another client can have it then.
class SessionLink final {
public:
    SessionLink(FirefoxPlaces places, Timeouts timeouts)
        : m_places(std::move(places)), m_timeouts(timeouts) {}
    ~SessionLink() { letGo(); }
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    // The connection with its session, starting one when there is none;
    // raises an Error when no Firefox lets us have a session.
    Connection& connection();
    // The open connection, or nullptr; never looks for Firefox.
    Connection* openConnection() {
        return m_connection && m_connection->isOpen() ? m_connection.get() : nullptr;
    }
    // Ends the session and closes the connection.
    void letGo();

    // Goes up with every new session, so facts kept about the pages of an
    // earlier browser can be dropped.
    unsigned generation() const { return m_generation; }
    const Timeouts& timeouts() const { return m_timeouts; }

private:
    void startSession(Connection& c);
    void holdOff();

    FirefoxPlaces m_places;
    Timeouts m_timeouts;
    std::unique_ptr<Connection> m_connection;
    unsigned m_generation = 0;
    // Not asked again before this while another client holds the session,
    // or a listener of ours does not serve one.
    Clock::time_point m_retryAt{};
    std::chrono::milliseconds m_backOff{0};
};

} // namespace tavro::bidi

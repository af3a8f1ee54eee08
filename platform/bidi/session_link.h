#pragma once

#include "platform/bidi/discovery.h"
#include "platform/browsers/browser_search.h"
#include "platform/browsers/timeouts.h"

#include <functional>
#include <memory>

namespace tavro::bidi {

using browsers::Timeouts;

// The one WebDriver BiDi session with the user's Firefox, shared by the
// collection of its pages and the new windows the program opens. Firefox is
// looked for, and its session started, on a thread of its own, so a listener
// that never answers costs the caller nothing. Firefox serves one session at
// a time: while another client holds it, that Firefox reads as absent and is
// asked again later, less often each time. The session is ended when the
// link goes, so another client can have it then.
class SessionLink final {
public:
    SessionLink(FirefoxPlaces places, Timeouts timeouts);
    ~SessionLink();
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    // The connection with its session, or the one the search has found;
    // raises an Error while there is none, and the search goes on.
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

    // Called with every new session, before anything is asked on it.
    std::function<void(Connection&)> onConnected;

private:
    void endSession(std::unique_ptr<Connection> c) const;

    Timeouts m_timeouts;
    browsers::BrowserSearch m_search;
    std::unique_ptr<Connection> m_connection;
    unsigned m_generation = 0;
};

} // namespace tavro::bidi

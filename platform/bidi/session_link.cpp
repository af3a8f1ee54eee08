#include "platform/bidi/session_link.h"

#include "platform/error.h"

namespace tavro::bidi {

SessionLink::SessionLink(FirefoxPlaces places, Timeouts timeouts)
    : m_timeouts(timeouts), m_search([places = std::move(places), timeouts](browsers::PlaceBackoff& backoff) {
          return connectToFirefox(places, timeouts, backoff);
      }) {}

SessionLink::~SessionLink() {
    letGo();
    // A session the search started but nobody took is ended too, or Firefox
    // would refuse the next client until it noticed the socket gone.
    endSession(m_search.finish());
}

Connection& SessionLink::connection() {
    if (Connection* open = openConnection())
        return *open;
    m_connection = m_search.take(m_timeouts.search);
    if (!m_connection)
        throw Error(errc::AutomationError, "No Firefox with a debugging port has served us a session yet");
    ++m_generation;
    if (onConnected)
        onConnected(*m_connection);
    return *m_connection;
}

void SessionLink::endSession(std::unique_ptr<Connection> c) const {
    if (!c || !c->isOpen())
        return;
    try {
        c->call("session.end", Json::object(), m_timeouts.browser);
    } catch (const Error&) {
        // Closing the socket, as c goes, is all that is left to do.
    }
}

void SessionLink::letGo() {
    endSession(std::move(m_connection));
}

} // namespace tavro::bidi

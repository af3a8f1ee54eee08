#include "platform/bidi/session_link.h"

#include "platform/error.h"

#include <algorithm>

namespace tavro::bidi {

namespace {

using namespace std::chrono_literals;

constexpr auto FirstBackOff = 1s;
constexpr auto LongestBackOff = 30s;

} // namespace

Connection& SessionLink::connection() {
    if (Connection* open = openConnection())
        return *open;
    m_connection.reset();
    if (Clock::now() < m_retryAt)
        throw Error(errc::AutomationError,
                    "Firefox did not serve a session of ours; it is asked again later");
    // Where nothing listens, looking costs nothing and a Firefox that starts
    // is found at once; a listener that does not serve us rests a while.
    // Another client holding the session is the common case of the latter.
    std::unique_ptr<Connection> c;
    try {
        c = connectToFirefox(m_places, m_timeouts.connect);
        if (c)
            startSession(*c);
    } catch (const Error&) {
        holdOff();
        throw;
    }
    if (!c)
        throw Error(errc::AutomationError, "No Firefox with a debugging port was found");
    m_backOff = 0ms;
    m_connection = std::move(c);
    ++m_generation;
    return *m_connection;
}

// A prompt left alone keeps its page answering scripts: with any other
// behaviour a page in alert() would stay unexamined until the user answers.
void SessionLink::startSession(Connection& c) {
    const Json capabilities = {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}};
    const long id = c.send("session.new", {{"capabilities", capabilities}});
    c.wait({id}, Clock::now() + m_timeouts.browser);
    const std::optional<Json> answer = c.take(id);
    if (!answer) {
        c.forget(id);
        throw Error(errc::AutomationError, "Firefox did not start a session in time");
    }
    resultOf(*answer); // raises Firefox's own reason for a refusal
}

void SessionLink::holdOff() {
    m_backOff = std::clamp(m_backOff * 2, std::chrono::milliseconds(FirstBackOff),
                           std::chrono::milliseconds(LongestBackOff));
    m_retryAt = Clock::now() + m_backOff;
}

void SessionLink::letGo() {
    if (Connection* c = openConnection()) {
        try {
            c->call("session.end", Json::object(), m_timeouts.browser);
        } catch (const Error&) {
            // Closing the socket below is all that is left to do.
        }
    }
    m_connection.reset();
}

} // namespace tavro::bidi

#include "browsers/mirror/session.h"

#include <algorithm>

namespace tavro::browsers {

namespace {

// The longest the owner runs the channel before a turn; a page's question
// coming due, or the protocol's own work, asks for one sooner.
constexpr std::chrono::milliseconds Turn{500};
// A browser that has said nothing for this long is asked something cheap.
constexpr std::chrono::seconds QuietFor{3};

} // namespace

Session::Session(Channel& c, BrowserProtocol& protocol, PageMirror& mirror, Timeouts timeouts)
    : m_channel(c), m_protocol(protocol), m_mirror(mirror), m_timeouts(timeouts), m_started(Clock::now()),
      m_due(m_started) {
    m_protocol.start(c, mirror);
}

// Whatever ends the session, the mirror tells of no browser from then on.
Session::~Session() {
    m_mirror.lost();
}

bool Session::turn(Clock::time_point now) {
    const BrowserProtocol::Stage stage = m_protocol.stage();
    if (stage == BrowserProtocol::Stage::Refused ||
        (stage == BrowserProtocol::Stage::Starting && now - m_started > m_protocol.startBound()) ||
        m_mirror.flooded())
        return false;
    if (stage == BrowserProtocol::Stage::Serving) {
        m_served = true;
        // A browser that has stopped keeps its socket open: only a question
        // it leaves unanswered tells.
        const auto quiet = now - m_channel.lastHeard();
        if (quiet < QuietFor) {
            m_askedSince.reset();
            m_mirror.heardAt(m_channel.lastHeard());
        } else if (!m_askedSince) {
            if (m_protocol.keepAlive(m_channel))
                m_askedSince = now;
            else
                m_mirror.heardAt(now); // a peer with no such question is as fresh as its channel
        } else if (now - *m_askedSince > m_timeouts.browser) {
            return false;
        }
    }
    // No scan will judge what the browser holds for one.
    if (!m_mirror.news().judged())
        m_protocol.releaseAll(m_channel);
    m_due = now + Turn;
    if (const auto next = m_mirror.expireProbes(now))
        m_due = std::min(m_due, *next);
    if (const auto next = m_protocol.turn(m_channel, now))
        m_due = std::min(m_due, *next);
    return true;
}

} // namespace tavro::browsers

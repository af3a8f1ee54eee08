#include "browsers/mirror/browser_link.h"

#include "platform/error.h"

#include <algorithm>
#include <future>
#include <malloc.h>

namespace tavro::browsers {

namespace {

// How often the places are tried while no browser is found: a browser
// started later is found within this, and trying a place where nothing
// listens costs a file read.
constexpr std::chrono::milliseconds LookAgainAfter{400};
// The longest the thread runs the socket while it ends a session.
constexpr std::chrono::milliseconds Turn{500};
// What the connection is given to end a session at the end. A session asked
// of a Firefox that is still starting comes 3 to 5 s later, and one that comes
// after the socket went is held by nobody, so Firefox refuses every other
// client until it is restarted. Only an end while Firefox starts waits that long.
constexpr std::chrono::seconds FinishGrace{10};

} // namespace

BrowserLink::BrowserLink(std::vector<Place> places, std::unique_ptr<BrowserProtocol> protocol,
                         Timeouts timeouts, std::shared_ptr<MirrorNews> news)
    : m_places(std::move(places)), m_protocol(std::move(protocol)), m_timeouts(timeouts),
      m_mirror(std::make_shared<PageMirror>(std::move(news), timeouts.page)) {
    m_thread = std::thread([this] { run(); });
}

BrowserLink::~BrowserLink() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_current != nullptr)
            m_current->interrupt();
    }
    m_wake.notify_all();
    m_thread.join();
}

void BrowserLink::run() {
    while (!m_stopping) {
        Found found = connectToFirst(m_places, m_backoff, m_timeouts.connect);
        if (found.connection)
            serve(std::move(found));
        else
            waitToLookAgain();
    }
}

void BrowserLink::waitToLookAgain() {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, LookAgainAfter, [this] { return m_stopping.load(); });
}

// Runs one connection for as long as it lives and deserves to. Whatever
// ends it, the session it holds is ended before the socket goes.
void BrowserLink::serve(Found found) {
    wire::WebSocket& c = *found.connection;
    {
        const std::lock_guard lock(m_mutex);
        m_current = &c;
    }
    bool rest = false;
    bool served = false;
    bool flooded = false;
    {
        Session session(c, *m_protocol, *m_mirror, m_timeouts);
        while (!m_stopping && !m_lettingGo && c.isOpen()) {
            if (!session.turn(Clock::now())) {
                rest = true;
                break;
            }
            c.runUntil(session.due());
        }
        served = session.served();
        flooded = m_mirror->flooded();
    }
    rest = rest || c.refused() || m_lettingGo;
    const auto graceEnd = Clock::now() + FinishGrace;
    while (c.isOpen() && !m_protocol->finish(c) && Clock::now() < graceEnd)
        c.runUntil(std::min(graceEnd, Clock::now() + Turn));
    // A place forgets its failures only once a connection there has served
    // and ended as a browser's ends: one that serves and then floods or goes
    // silent rests longer each time.
    if (rest)
        m_backoff.failed(found.place, Clock::now());
    else if (served)
        m_backoff.answered(found.place);
    {
        const std::lock_guard lock(m_mutex);
        m_current = nullptr;
        m_lettingGo = false;
    }
    m_wake.notify_all();
    found.connection.reset();
    // A flood leaves the thread's heap full of freed pages; give it back.
    if (flooded)
        malloc_trim(0);
}

bool BrowserLink::post(SessionWork work) {
    const std::lock_guard lock(m_mutex);
    if (m_current == nullptr)
        return false;
    wire::WebSocket* c = m_current;
    return c->execute([this, c, work = std::move(work)] { work(*m_protocol, *c); });
}

Json BrowserLink::call(const std::string& method, const Json& params, std::chrono::milliseconds timeout) {
    auto answer = std::make_shared<std::promise<Json>>();
    std::future<Json> arrived = answer->get_future();
    if (!m_mirror->waitConnected(timeout) || !post([method, params, answer](BrowserProtocol&, Channel& c) {
            c.send(method, params, {}, [answer](Json a) { answer->set_value(std::move(a)); });
        }))
        throw Error(errc::AutomationError, "No browser serves");
    if (arrived.wait_for(timeout) != std::future_status::ready)
        throw Error(errc::AutomationError, "The browser did not answer " + method + " in time");
    try {
        return wire::resultOf(arrived.get());
    } catch (const std::future_error&) {
        throw Error(errc::AutomationError, "The browser has gone"); // with the question unanswered
    }
}

void BrowserLink::letGo() {
    std::unique_lock lock(m_mutex);
    if (m_current == nullptr)
        return;
    m_lettingGo = true;
    m_current->interrupt();
    // Done once the thread has ended the session and let the socket go.
    m_wake.wait(lock, [this] { return m_current == nullptr; });
}

} // namespace tavro::browsers

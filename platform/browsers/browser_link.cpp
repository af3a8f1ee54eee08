#include "platform/browsers/browser_link.h"

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
// The longest the thread runs the connection before it looks at its own
// state again (a flood, a quiet browser); a stop and a page's question
// coming due wake it sooner.
constexpr std::chrono::milliseconds Turn{500};
// A browser that has said nothing for this long is asked something cheap.
constexpr std::chrono::seconds QuietFor{3};
// What the connection is given to end a session at the end. A session asked
// of a Firefox that is still starting comes 3 to 5 s later, and one that comes
// after the socket went is held by nobody, so Firefox refuses every other
// client until it is restarted. Only an end while Firefox starts waits that long.
constexpr std::chrono::seconds FinishGrace{10};

} // namespace

BrowserLink::BrowserLink(std::unique_ptr<BrowserProtocol> protocol, Timeouts timeouts,
                         std::shared_ptr<MirrorNews> news)
    : m_protocol(std::move(protocol)), m_timeouts(timeouts), m_mirror(std::move(news), timeouts.page) {
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
        Found found = connectToFirst(m_protocol->places(), m_backoff, m_timeouts.connect);
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
    Connection& c = *found.connection;
    {
        const std::lock_guard lock(m_mutex);
        m_current = &c;
    }
    m_protocol->start(c, m_mirror);
    const auto started = Clock::now();
    bool rest = false;
    bool served = false;
    std::optional<Clock::time_point> askedSince;
    while (!m_stopping && !m_lettingGo && c.isOpen()) {
        const auto now = Clock::now();
        const BrowserProtocol::Stage stage = m_protocol->stage();
        if (stage == BrowserProtocol::Stage::Refused ||
            (stage == BrowserProtocol::Stage::Starting && now - started > m_protocol->startBound())) {
            rest = true;
            break;
        }
        if (m_mirror.flooded()) {
            rest = true;
            break;
        }
        if (stage == BrowserProtocol::Stage::Serving) {
            served = true;
            // A browser that has stopped keeps its socket open: only a
            // question it leaves unanswered tells.
            const auto quiet = now - c.lastHeard();
            if (quiet < QuietFor) {
                askedSince.reset();
            } else if (!askedSince) {
                askedSince = now;
                m_protocol->keepAlive(c);
            } else if (now - *askedSince > m_timeouts.browser) {
                rest = true;
                break;
            }
            m_mirror.heardAt(c.lastHeard());
        }
        auto until = now + Turn;
        if (const auto next = m_mirror.expireQuestions(now))
            until = std::min(until, *next);
        c.runUntil(until);
    }
    rest = rest || c.refused() || m_lettingGo;
    const bool flooded = m_mirror.flooded();
    m_mirror.lost();
    const auto graceEnd = Clock::now() + FinishGrace;
    while (c.isOpen() && !m_protocol->finish(c) && Clock::now() < graceEnd)
        c.runUntil(std::min(graceEnd, Clock::now() + Turn));
    {
        const std::lock_guard lock(m_mutex);
        m_current = nullptr;
    }
    // A place forgets its failures only once a connection there has served
    // and ended as a browser's ends: one that serves and then floods or goes
    // silent rests longer each time.
    if (rest)
        m_backoff.failed(found.place, Clock::now());
    else if (served)
        m_backoff.answered(found.place);
    m_lettingGo = false;
    found.connection.reset();
    // A flood leaves the thread's heap full of freed pages; give it back.
    if (flooded)
        malloc_trim(0);
}

bool BrowserLink::post(std::function<void(Connection&)> work) {
    const std::lock_guard lock(m_mutex);
    if (m_current == nullptr)
        return false;
    Connection* c = m_current;
    c->execute([c, work = std::move(work)] { work(*c); });
    return true;
}

bool BrowserLink::close(const std::string& page) {
    return post([this, page](Connection& c) { m_protocol->close(c, page); });
}

bool BrowserLink::open(const std::string& url) {
    return post([this, url](Connection& c) { m_protocol->open(c, url); });
}

Json BrowserLink::call(const std::string& method, const Json& params, std::chrono::milliseconds timeout) {
    auto answer = std::make_shared<std::promise<Json>>();
    std::future<Json> arrived = answer->get_future();
    if (!m_mirror.waitConnected(timeout) || !post([method, params, answer](Connection& c) {
            c.send(method, params, {}, [answer](Json a) { answer->set_value(std::move(a)); });
        }))
        throw Error(errc::AutomationError, "No browser serves");
    if (arrived.wait_for(timeout) != std::future_status::ready)
        throw Error(errc::AutomationError, "The browser did not answer " + method + " in time");
    try {
        return websocket::resultOf(arrived.get());
    } catch (const std::future_error&) {
        throw Error(errc::AutomationError, "The browser has gone"); // with the question unanswered
    }
}

void BrowserLink::letGo() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_current == nullptr)
            return;
        m_lettingGo = true;
        m_current->interrupt();
    }
    // Done once the thread has ended the session and let the socket go.
    while (true) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_current == nullptr)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace tavro::browsers

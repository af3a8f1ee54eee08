#pragma once

#include "browsers/mirror/page_mirror.h"
#include "browsers/mirror/places.h"
#include "browsers/mirror/session.h"
#include "browsers/mirror/timeouts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavro::browsers {

// Work for a session's protocol on its channel, run on the thread that owns
// them.
using SessionWork = std::function<void(BrowserProtocol&, Channel&)>;

// Looks for one browser, connects and keeps its mirror, all on a thread of
// its own, from its construction on: nothing a browser does or fails to do
// ever holds up the user-interface thread, which only reads the mirror and
// hands work over. A browser that goes away is looked for again; one that
// sends what no browser sends, floods the program with pages or stops
// answering is let go and its place rests.
//
// Threads: the link's own thread owns the WebSocket, the protocol and the
// session; any thread may read the mirror and call post(), letGo() and call().
class BrowserLink final {
public:
    BrowserLink(std::vector<Place> places, std::unique_ptr<BrowserProtocol> protocol, Timeouts timeouts,
                std::shared_ptr<MirrorNews> news = std::make_shared<MirrorNews>());
    // Ends the session and stops the thread; waits no longer than the grace
    // a session being set up is given to end.
    ~BrowserLink();
    BrowserLink(const BrowserLink&) = delete;
    BrowserLink& operator=(const BrowserLink&) = delete;

    PageMirror& mirror() { return *m_mirror; }
    const std::shared_ptr<PageMirror>& sharedMirror() const { return m_mirror; }
    const Timeouts& timeouts() const { return m_timeouts; }

    // From any thread: hands work to the link's thread; false when no
    // browser serves.
    bool post(SessionWork work);
    // From any thread but the link's: one command and its answer, for tests
    // and tools; raises an Error when no browser serves or none answers in time.
    Json call(const std::string& method, const Json& params, std::chrono::milliseconds timeout);
    // Lets the browser go, as at the end, and looks for it again later.
    void letGo();

private:
    void run();
    void serve(Found found);
    void waitToLookAgain();

    std::vector<Place> m_places;
    std::unique_ptr<BrowserProtocol> m_protocol;
    Timeouts m_timeouts;
    std::shared_ptr<PageMirror> m_mirror;
    PlaceBackoff m_backoff;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_lettingGo{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // The socket the thread runs, while it does; guarded by m_mutex.
    wire::WebSocket* m_current = nullptr;
    std::thread m_thread;
};

} // namespace tavro::browsers

#pragma once

#include "platform/browsers/page_mirror.h"
#include "platform/browsers/places.h"
#include "platform/browsers/timeouts.h"

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

using websocket::Json;

// One browser automation protocol: what a connection says, and how its news
// becomes the mirror. Called on the link's thread only.
class BrowserProtocol {
public:
    enum class Stage {
        Starting, // the connection is being set up (a session asked for)
        Serving,  // the mirror is kept from the browser's news
        Refused,  // the peer would not serve: it rests
    };

    virtual ~BrowserProtocol() = default;
    // The places to look for the browser, in order.
    virtual std::vector<Place> places() const = 0;
    // A new connection: asks for what it needs; it starts the mirror over
    // once the browser serves and feeds it from then on.
    virtual void start(Connection& c, PageMirror& mirror) = 0;
    virtual Stage stage() const = 0;
    // How long the connection may take to serve before it is given up.
    virtual std::chrono::milliseconds startBound() const { return std::chrono::seconds(5); }
    // A cheap question, so that a browser that has stopped is noticed.
    virtual void keepAlive(Connection& c) = 0;
    virtual void close(Connection& c, const std::string& page) = 0;
    // Opens a page in a new window of the browser.
    virtual void open(Connection& c, const std::string& url) = 0;
    // Ends what the connection holds before it is let go; true once done.
    // Called again, as the connection runs, until it is or a grace is over.
    virtual bool finish(Connection& c) {
        static_cast<void>(c);
        return true;
    }
};

// Looks for one browser, connects and keeps its mirror, all on a thread of
// its own, from its construction on: nothing a browser does or fails to do
// ever holds up the user-interface thread, which only reads the mirror and
// hands requests over. A browser that goes away is looked for again; one
// that sends what no browser sends, floods the program with pages or stops
// answering is let go and its place rests.
class BrowserLink final {
public:
    BrowserLink(std::unique_ptr<BrowserProtocol> protocol, Timeouts timeouts,
                std::shared_ptr<MirrorNews> news = std::make_shared<MirrorNews>());
    // Ends the session and stops the thread; waits no longer than the grace
    // a session being set up is given to end.
    ~BrowserLink();
    BrowserLink(const BrowserLink&) = delete;
    BrowserLink& operator=(const BrowserLink&) = delete;

    PageMirror& mirror() { return m_mirror; }
    const Timeouts& timeouts() const { return m_timeouts; }

    // From any thread: asks the browser to close a page / open an address in
    // a new window; false when no browser serves.
    bool close(const std::string& page);
    bool open(const std::string& url);
    // From any thread but the link's: one command and its answer, for tests
    // and tools; raises an Error when no browser serves or none answers in time.
    Json call(const std::string& method, const Json& params, std::chrono::milliseconds timeout);
    // Lets the browser go, as at the end, and looks for it again later.
    void letGo();

private:
    void run();
    void serve(Found found);
    bool post(std::function<void(Connection&)> work);
    void waitToLookAgain();

    std::unique_ptr<BrowserProtocol> m_protocol;
    Timeouts m_timeouts;
    PageMirror m_mirror;
    PlaceBackoff m_backoff;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_lettingGo{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // The connection the thread runs, while it does; guarded by m_mutex.
    Connection* m_current = nullptr;
    std::thread m_thread;
};

} // namespace tavro::browsers

#pragma once

#include "browsers/mirror/page_model.h"
#include "platform/browser.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

// A browser's pages as the browser itself last told of them, kept current from
// its news by the adapter that speaks its protocol, so that a tick reads them
// without asking the browser anything.
namespace tavro::browsers {

using MirrorClock = std::chrono::steady_clock;

// The news of one or more mirrors for the user-interface thread: a handle that
// becomes readable when a page opened by script has something new to judge.
class MirrorNews final : public BrowserNews {
public:
    MirrorNews();
    ~MirrorNews() override;
    MirrorNews(const MirrorNews&) = delete;
    MirrorNews& operator=(const MirrorNews&) = delete;

    void setListener(std::function<void()> listener) override;
    int watchHandle() override { return m_handle; }
    void readArrived() override;
    bool takeNews() override { return m_news.exchange(false); }
    bool takeWaiting() override { return m_waiting.exchange(false); }

    // From any thread: there is something to judge. Costs one write to the
    // handle however often it is told before the news is taken.
    void tell();
    // From any thread: a page waits for the verdict with its request held.
    void tellWaiting() {
        m_waiting = true;
        tell();
    }
    // Tells no more news, as a browser that sends none (the ticks alone).
    void mute() { m_muted = true; }
    void judging(bool on) override { m_judging = on; }
    // From any thread: whether a scan follows the news.
    bool judged() const { return m_judging; }

private:
    int m_handle = -1;
    std::atomic<bool> m_news{false};
    std::atomic<bool> m_waiting{false};
    std::atomic<bool> m_signalled{false};
    std::atomic<bool> m_muted{false};
    std::atomic<bool> m_judging{true};
    std::mutex m_listenerMutex;
    std::function<void()> m_listener;
};

// The mirror of one browser's pages. The adapter feeds it from its own thread
// as the browser's news and answers arrive; the user-interface thread takes a
// snapshot at every walk. Each call holds a lock only for as long as it
// changes or copies a few pointers.
//
// A page's facts arrive one by one: the browser announces it, names its
// window, and the page itself says what it shows. Until a fact has arrived the
// page reads as the scan already reads an unknown, never as a pop-up on a
// guess, and the fact's arrival is news.
class PageMirror final {
public:
    // How long a page is given to answer a question about its document
    // before it counts as one that cannot answer (alert(), an endless script).
    static constexpr std::chrono::milliseconds DefaultAnswerTime{60};
    // How long a page asked to close is passed over while the browser closes it.
    static constexpr std::chrono::milliseconds ClosingGrace{1000};
    // Facts older than this, from a browser that has said nothing since, are
    // not acted on: a browser that stopped may have closed or moved the page.
    static constexpr std::chrono::seconds FreshFor{5};
    // More pages than a browser ever has, or new pages faster than any
    // browser opens them for seconds on end: the peer is no browser. A walk
    // over this many pages still keeps the window under a frame's time.
    static constexpr std::size_t MaxPages = 4000;
    static constexpr std::size_t MaxNewPagesPerSecond = 2000;
    static constexpr int FloodSeconds = 3;

    explicit PageMirror(std::shared_ptr<MirrorNews> news = std::make_shared<MirrorNews>(),
                        std::chrono::milliseconds answerTime = DefaultAnswerTime);
    PageMirror(const PageMirror&) = delete;
    PageMirror& operator=(const PageMirror&) = delete;

    // ---- fed by the adapter ----

    // A new connection, or news that went missing: every page is forgotten,
    // and the browser is about to tell them again.
    void startOver();
    // The connection is gone: no pages, and no browser to close them.
    void lost();
    // A page the browser has, after the ones it has already told of. openerId
    // names the page whose script opened it, empty when the user did.
    void pageOpened(const std::string& id, const std::string& url, const std::string& openerId);
    // The page shows another address; what it was found to show belongs to
    // the old one. False when the page is unknown or the address is the same.
    bool addressChanged(const std::string& id, const std::string& url);
    // The same, with whatever else the browser told with it, in one step, so
    // that no walk sees half of it: probeFollows says that the page is about
    // to be probed (it reads as asked from now on), window that the browser
    // named the page's window (or would not: nothing inside).
    void appeared(const std::string& id, const std::string& url, const std::string& openerId,
                  bool probeFollows, std::optional<std::optional<std::string>> window = std::nullopt);
    // True when the address changed; the probe is marked only then.
    bool navigated(const std::string& id, const std::string& url, bool probeFollows);
    // The page is loading this address while its old document still shows:
    // it is judged by the address it is going to.
    void loading(const std::string& id, const std::string& url);
    // The browser holds the page before it requests this address, its first:
    // it is judged by that address, as the HTML page it almost always is,
    // once the rest of its facts are in. released() once it is let go.
    void held(const std::string& id, const std::string& url);
    void released(const std::string& id);
    // The browser's own word on whether the page can still reach its opener.
    void reachesOpener(const std::string& id, bool reaches);
    // The page's opener says, before the page has shown any document, that the
    // page reaches it: the page is judged by the address it is going to, as
    // the HTML page it almost always is, until it answers its own probe.
    void openerVouched(const std::string& id);
    // A question about the page's browser window is out; decisions on pop-up
    // windows wait for every such answer.
    void windowAsked(const std::string& id);
    // The browser named the page's window, or would not (nothing).
    void windowNamed(const std::string& id, std::optional<std::string> window);
    // A probe of the page (what document it shows, whether it can reach its
    // opener), asked at this address.
    void probeAsked(const std::string& id, const std::string& url);
    // The page's answer: whether it shows an HTML document and, where the page
    // is asked that too, whether it can reach its opener; nothing for a
    // probe it could not answer.
    void probeAnswered(const std::string& id, const std::string& url, std::optional<bool> html,
                       std::optional<bool> reachesOpener = std::nullopt);
    void pageGone(const std::string& id);
    // The pages whose probe has gone unanswered past the answer time now
    // count as pages that cannot answer; returns when the next one will.
    std::optional<MirrorClock::time_point> expireProbes(MirrorClock::time_point now);
    // The browser last said something then: its facts are that fresh.
    void heardAt(MirrorClock::time_point when);
    // True once the peer has sent far more pages than a browser would.
    bool flooded() const;

    // ---- read by the walk ----

    bool connected() const;
    // Waits until a browser is connected, no longer than patience.
    bool waitConnected(std::chrono::milliseconds patience) const;
    // The pages in the browser's order, but those being closed; none when the
    // facts have gone stale.
    PageRecords snapshot();
    // The page was asked to close: passed over for a moment.
    void closeAsked(const std::string& id);
    // Whether the page is known (for the adapters' bookkeeping).
    bool knows(const std::string& id) const;
    // The address the page is judged by, if it is known (for tests and tools).
    std::optional<std::string> address(const std::string& id) const;
    // True while no question about a page or its window is out.
    bool settled() const;

    MirrorNews& news() { return *m_news; }
    const std::shared_ptr<MirrorNews>& sharedNews() const { return m_news; }

private:
    enum class Kind { Unasked, Asked, Answered, Overdue };
    struct Page {
        std::uint64_t order = 0;
        std::string url;
        // The address of the document the page shows, which its kind belongs to.
        std::string documentUrl;
        std::string openerId;
        std::optional<bool> reachesOpener;
        std::optional<std::string> window;
        bool windowPending = false;
        Kind kind = Kind::Unasked;
        std::string kindUrl;
        std::optional<bool> html;
        MirrorClock::time_point askedAt;
        // Whether the page sits in a pop-up window: decided once.
        std::optional<bool> popup;
        std::optional<MirrorClock::time_point> closeAskedAt;
        bool held = false;
        bool vouched = false;
        std::shared_ptr<const PageRecord> record;
    };

    Page* find(const std::string& id);
    // What the calls above do, with the lock held.
    bool open(const std::string& id, const std::string& url, const std::string& openerId);
    bool changeAddress(const std::string& id, const std::string& url);
    void nameWindow(const std::string& id, std::optional<std::string> window);
    void askProbe(const std::string& id, const std::string& url);
    void changed(const std::string& id, Page& page);
    void decidePopups();
    std::optional<bool> alone(const Page& page) const;
    void countWindow(const std::optional<std::string>& window, int delta);
    std::shared_ptr<const PageRecord> recordOf(const std::string& id, const Page& page) const;
    void clear();

    std::shared_ptr<MirrorNews> m_news;
    const std::chrono::milliseconds m_answerTime;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_connectedChanged;
    bool m_connected = false;
    std::unordered_map<std::string, Page> m_pages;
    std::map<std::uint64_t, std::string> m_order;
    std::uint64_t m_nextOrder = 0;
    std::unordered_map<std::string, int> m_pagesInWindow;
    std::set<std::string> m_undecided;
    int m_windowsPending = 0;
    std::atomic<MirrorClock::rep> m_lastHeard{0};
    // New pages in the current second, and the seconds in a row that had too many.
    MirrorClock::time_point m_secondStart;
    std::size_t m_newThisSecond = 0;
    int m_floodSeconds = 0;
    bool m_flooded = false;
};

} // namespace tavro::browsers

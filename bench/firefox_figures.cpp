// The same figures for Firefox, through the WebDriver BiDi adapter, printed by
// browser_bench after Chromium's: the tick time with 10, 50 and 200 tabs
// beside Firefox's own time to list its pages; the lifetime of pop-ups with
// the ticks alone, with the ticks and the scans Firefox's news starts, and
// with a reference closer; and Firefox's CPU time with the program against
// without it. Firefox serves one session at a time, so the pages are laid
// out through the program's own session, and the pop-ups' births and ends are
// taken from the events of that session as they arrive, before the adapter
// reads them.

#include "bench/firefox_figures.h"

#include "bench/bench_support.h"
#include "browsers/bidi/answers.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/bidi/bidi_protocol.h"
#include "tests/support/firefox_driver.h"
#include "tests/support/firefox_process.h"
#include "tests/support/virtual_display.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace tavro::bench {

namespace {

using namespace std::chrono_literals;
using testing::BrowserDriver;
using testing::FirefoxDriver;
using wire::Channel;
using wire::Json;
using wire::WebSocket;

browsers::Timeouts patient() {
    browsers::Timeouts timeouts;
    timeouts.search = 20s;
    return timeouts;
}

// Hears every event Firefox sends the program's session, on the adapter's
// thread, just before the adapter does.
using EventHook = std::function<void(Channel&, const Json&)>;

class HookedProtocol final : public browsers::BrowserProtocol {
public:
    explicit HookedProtocol(EventHook hook) : m_inner(patient().session), m_hook(std::move(hook)) {}

    void start(Channel& c, browsers::PageMirror& mirror) override {
        m_inner.start(c, mirror);
        c.onEvent = [this, &c, hear = std::move(c.onEvent)](const Json& event) {
            m_hook(c, event);
            hear(event);
        };
    }
    Stage stage() const override { return m_inner.stage(); }
    std::chrono::milliseconds startBound() const override { return m_inner.startBound(); }
    bool keepAlive(Channel& c) override { return m_inner.keepAlive(c); }
    void close(Channel& c, const std::string& page) override { m_inner.close(c, page); }
    void open(Channel& c, const std::string& url) override { m_inner.open(c, url); }
    bool finish(Channel& c) override { return m_inner.finish(c); }

private:
    bidi::BidiProtocol m_inner;
    EventHook m_hook;
};

// The births and ends of pages opened by script, by Firefox's own events.
class PopupRecord {
public:
    void heard(const Json& event) {
        const auto told = bidi::contextEventOf(event);
        if (!told || !told->context.parent.empty())
            return;
        const auto now = Clock::now();
        const std::lock_guard lock(m_mutex);
        if (told->kind == bidi::ContextEvent::Kind::Created && !told->context.openerId.empty()) {
            m_born[told->context.id] = now;
            ++m_bornCount;
        } else if (told->kind == bidi::ContextEvent::Kind::Destroyed) {
            const auto it = m_born.find(told->context.id);
            if (it != m_born.end()) {
                m_lifetimes.push_back(ms(now - it->second));
                m_born.erase(it);
            }
        }
    }
    std::vector<double> lifetimes() {
        const std::lock_guard lock(m_mutex);
        return m_lifetimes;
    }
    std::size_t born() {
        const std::lock_guard lock(m_mutex);
        return m_bornCount;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_born;
    std::vector<double> m_lifetimes;
    std::size_t m_bornCount = 0;
};

// The floor for any program outside Firefox: each page opened by script is
// closed the moment Firefox names an address with a host for it, with no
// walk, no question and no rule.
class ReferenceCloser {
public:
    void heard(Channel& c, const Json& event) {
        const auto told = bidi::contextEventOf(event);
        if (!told || !told->context.parent.empty())
            return;
        const std::string& id = told->context.id;
        if (told->kind == bidi::ContextEvent::Kind::Created && !told->context.openerId.empty())
            m_scripted.insert(id);
        if (told->kind != bidi::ContextEvent::Kind::Destroyed && told->context.url.starts_with("http") &&
            m_scripted.erase(id) != 0)
            c.post("browsingContext.close", {{"context", id}});
    }

private:
    // Touched on the adapter's thread alone.
    std::set<std::string> m_scripted;
};

void openTabs(FirefoxDriver& driver, testing::PageServer& server, std::size_t total) {
    for (std::size_t open = driver.pages().size(); open < total; ++open)
        driver.open(server.url("site" + std::to_string(open % 7) + ".localhost",
                               "/tab.html?" + std::to_string(open)));
    driver.waitFor(
        [&](const auto& pages) { return BrowserDriver::matching(pages, "/tab.html").size() >= total; }, 240s);
}

void catchUp(browsers::PageMirror& mirror, FirefoxDriver& driver) {
    if (!testing::caughtUp(
            mirror, [&] { return driver.pages(); }, true, 60s))
        std::printf("  (the mirror did not catch up with Firefox within 60 s)\n");
}

void tickTimes(const std::string& serverFile, testing::PageServer& server) {
    std::printf("Firefox: tick time on the calling thread, no pop-up (40 ticks after 5 to settle), beside\n"
                "Firefox's own time to list its pages (browsingContext.getTree, 20 times, through the\n"
                "adapter's connection):\n");
    bidi::BidiBrowserAutomation automation(bidi::FirefoxPlaces{{serverFile}}, patient());
    ScanForm scan(automation);
    FirefoxDriver driver(automation.link());
    driver.reset(server.url("home.localhost", "/tab.html"));
    for (std::size_t tabs : {10U, 50U, 200U}) {
        openTabs(driver, server, tabs);
        catchUp(automation.mirror(), driver);
        const Summary s = timeTicks([&] { return scan.tick(); });
        std::vector<double> lists;
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            automation.link().call("browsingContext.getTree", {{"maxDepth", 0}}, 10s);
            lists.push_back(ms(Clock::now() - start));
        }
        const Summary list = summarise(lists);
        std::printf("  %3zu tabs: tick median %.3f ms, 95th %.3f ms, longest %.3f ms;"
                    " list of pages median %.2f ms, 95th %.2f ms\n",
                    tabs, s.median, s.p95, s.max, list.median, list.p95);
    }
    driver.reset(server.url("home.localhost", "/tab.html"));
}

enum class Closer { Ticks, News, Reference };

Summary lifetimes(const std::string& serverFile, testing::PageServer& server, int popups, Closer closer) {
    PopupRecord record;
    ReferenceCloser reference;
    browsers::MirroredBrowser automation(bidi::placesOf(bidi::FirefoxPlaces{{serverFile}}),
                                         std::make_unique<HookedProtocol>([&](Channel& c, const Json& event) {
                                             record.heard(event);
                                             if (closer == Closer::Reference)
                                                 reference.heard(c, event);
                                         }),
                                         patient(), "No Firefox");
    if (closer != Closer::News)
        automation.mirror().news().mute();
    FirefoxDriver driver(automation.link());
    driver.reset(server.url("home.localhost", "/tab.html"));
    ScanForm scan(automation);
    catchUp(automation.mirror(), driver);
    std::unique_ptr<RunningScan> running;
    if (closer != Closer::Reference)
        running = std::make_unique<RunningScan>(scan, automation, closer == Closer::News);

    driver.open(server.url("site.localhost", "/opener.html?n=" + std::to_string(popups)));
    const auto done = [&] { return record.lifetimes().size() >= static_cast<std::size_t>(popups); };
    const auto limit = std::chrono::milliseconds(popups * 450 + 15000);
    if (running)
        running->runUntil(done, limit);
    else
        for (const auto end = Clock::now() + limit; !done() && Clock::now() < end;)
            std::this_thread::sleep_for(10ms);

    const std::vector<double> lived = record.lifetimes();
    const Summary s = summarise(lived);
    const char* names[] = {"ticks alone", "ticks and news", "reference closer"};
    std::printf("  %-17s %3zu closed of %3zu opened, %zu left open: median %4.0f ms, 95th %4.0f ms, "
                "longest %4.0f ms",
                names[static_cast<int>(closer)], lived.size(), record.born(), record.born() - lived.size(),
                s.median, s.p95, s.max);
    if (running && closer == Closer::News)
        std::printf(" (%d scans for news)", running->newsScans());
    std::printf("\n");
    driver.reset(server.url("home.localhost", "/tab.html"));
    return s;
}

void compareLifetimes(const std::string& serverFile, testing::PageServer& server, int popups) {
    std::printf("Firefox: pop-up lifetime by its own events, from creation to end:\n");
    const Summary ticks = lifetimes(serverFile, server, popups, Closer::Ticks);
    const Summary news = lifetimes(serverFile, server, popups, Closer::News);
    const Summary floor = lifetimes(serverFile, server, popups, Closer::Reference);
    if (floor.median > 0 && floor.max > 0)
        std::printf("  against the reference: ticks and news median %.2fx, longest %.2fx;"
                    " ticks alone median %.2fx\n",
                    news.median / floor.median, news.max / floor.max, ticks.median / floor.median);
}

// As browser_bench does for Chromium: the program holds no session at all
// in the rounds without it.
void cpuUse(const std::string& serverFile, testing::PageServer& server, pid_t group, const FirefoxRun& run) {
    {
        bidi::BidiBrowserAutomation automation(bidi::FirefoxPlaces{{serverFile}}, patient());
        FirefoxDriver driver(automation.link());
        driver.reset(server.url("home.localhost", "/tab.html"));
        openTabs(driver, server, 50);
    }
    waitQuiet(group, 3.0, 90s);
    std::printf(
        "Firefox, Xvfb, 50 idle tabs: %d rounds of %d s with the program (a tick every 600 ms and the "
        "news) and as long without it:\n",
        run.rounds, std::max(1, run.seconds / run.rounds));
    printCpuRounds("Firefox", group, run.seconds, run.rounds, [&](const auto& measured) {
        bidi::BidiBrowserAutomation automation(bidi::FirefoxPlaces{{serverFile}}, patient());
        ScanForm scan(automation);
        automation.mirror().waitConnected(20s);
        RunningScan running(scan, automation, true);
        // The session's start and its first questions are over before the count starts.
        running.runFor(3s);
        measured(running);
    });
}

} // namespace

void firefoxFigures(testing::PageServer& server, const FirefoxRun& run) {
    testing::VirtualDisplay display;
    if (!display.running()) {
        std::printf("Firefox: no figures, Xvfb could not be started\n");
        return;
    }
    testing::FirefoxProcess firefox(display.name());
    firefox.start();
    if (!run.cpuOnly) {
        tickTimes(firefox.serverFile(), server);
        compareLifetimes(firefox.serverFile(), server, run.popups);
    }
    cpuUse(firefox.serverFile(), server, firefox.pid(), run);
}

} // namespace tavro::bench

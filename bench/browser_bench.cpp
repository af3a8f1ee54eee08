// The popup scan against a real Chromium, through the DevTools adapter:
//   1. the time one tick keeps the calling thread with 10, 50 and 200 open
//      tabs and no pop-up, beside the time Chromium takes to list its pages
//      (Target.getTargets, which the program no longer asks for);
//   2. the lifetime of pop-ups by Chromium's own target events, from their
//      creation to their end: with the timer's 600 ms ticks alone, with the
//      ticks and the scans the browser's news starts (as the program runs),
//      and with a minimal reference closer that closes each page opened by
//      script as soon as its address is known;
//   3. the scans a page that opens 1000 windows at once brings about;
//   4. with 50 idle tabs, in rounds of N seconds in all with the program and
//      as long without it, alternated: Chromium's CPU time, and this
//      process's, whose share without the program is the benchmark's own;
//   5. the same tick times, lifetimes and CPU times in Firefox.
//
// usage: browser_bench [--seconds N] [--rounds N] [--popups N]
//                      [--cpu-only] [--chromium-only | --firefox-only]
//        (defaults: 60 s, 3 rounds, 60 pop-ups)

#include "bench/bench_support.h"
#include "bench/firefox_figures.h"
#include "browsers/devtools/devtools_browser.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tavro::bench::Clock;
using tavro::bench::ms;
using tavro::bench::RunningScan;
using tavro::bench::ScanForm;
using tavro::bench::summarise;
using tavro::bench::Summary;
using tavro::testing::BrowserDriver;
using tavro::testing::ChromiumProcess;
using tavro::testing::PageServer;

// The scan's adapter over the test Chromium alone; the first walk waits for
// it to be connected, so that every tick measured reads its pages.
struct Chromium {
    explicit Chromium(const std::string& portFile)
        : automation(tavro::devtools::BrowserPlaces{{portFile}, {}}, patient()) {}

    static tavro::devtools::Timeouts patient() {
        tavro::devtools::Timeouts timeouts;
        timeouts.search = 10s;
        return timeouts;
    }

    tavro::devtools::DevToolsBrowserAutomation automation;
};

// Waits until the adapter's mirror holds every page the driver sees.
void catchUp(tavro::browsers::PageMirror& mirror, BrowserDriver& driver) {
    mirror.waitConnected(10s);
    if (!tavro::testing::caughtUp(
            mirror, [&] { return driver.pages(); }, true, 30s))
        std::printf("  (the mirror did not catch up with the browser within 30 s)\n");
}

void openTabs(BrowserDriver& driver, PageServer& server, std::size_t total) {
    std::size_t open = driver.pages().size();
    for (; open < total; ++open)
        driver.open(server.url("site" + std::to_string(open % 7) + ".localhost",
                               "/tab.html?" + std::to_string(open)));
    driver.waitFor([&](const auto& pages) { return BrowserDriver::titled(pages, "tab").size() + 1 >= total; },
                   120s);
}

void tickTimes(BrowserDriver& driver, PageServer& server, const std::string& portFile) {
    std::printf("Chromium: tick time on the calling thread, no pop-up (40 ticks after 5 to settle),\n"
                "beside Chromium's own time to list its pages (Target.getTargets, 20 times):\n");
    for (std::size_t tabs : {10U, 50U, 200U}) {
        openTabs(driver, server, tabs);
        Chromium chromium(portFile);
        ScanForm scan(chromium.automation);
        catchUp(chromium.automation.mirror(), driver);
        const Summary s = tavro::bench::timeTicks([&] { return scan.tick(); });
        std::vector<double> lists;
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            driver.connection().call("Target.getTargets", tavro::wire::Json::object(), 10s);
            lists.push_back(ms(Clock::now() - start));
        }
        const Summary list = summarise(lists);
        std::printf("  %3zu tabs: tick median %.3f ms, 95th %.3f ms, longest %.3f ms;"
                    " list of pages median %.2f ms, 95th %.2f ms\n",
                    tabs, s.median, s.p95, s.max, list.median, list.p95);
    }
}

// Watches Chromium's pages on a connection and thread of its own, so the
// times of their birth and end do not wait for the scan.
class PopupWatch {
public:
    explicit PopupWatch(const std::string& portFile) : m_driver(portFile) {
        m_driver.connection().onEvent = [this](const tavro::wire::Json& event) { record(event); };
        m_driver.connection().call("Target.setDiscoverTargets", {{"discover", true}}, 5s);
        m_thread = std::thread([this] {
            while (!m_stop)
                m_driver.connection().runUntil(std::chrono::steady_clock::now() + 2ms);
        });
    }
    ~PopupWatch() {
        m_stop = true;
        m_thread.join();
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
    void record(const tavro::wire::Json& event) {
        const auto now = Clock::now();
        const std::string method = event.value("method", "");
        const auto& params = event["params"];
        const std::lock_guard lock(m_mutex);
        if (method == "Target.targetCreated") {
            const auto& info = params["targetInfo"];
            if (info.value("type", "") == "page" && info.contains("openerId")) {
                m_born[info.value("targetId", "")] = now;
                ++m_bornCount;
            }
        } else if (method == "Target.targetDestroyed") {
            const auto it = m_born.find(params.value("targetId", ""));
            if (it != m_born.end()) {
                m_lifetimes.push_back(ms(now - it->second));
                m_born.erase(it);
            }
        }
    }

    BrowserDriver m_driver;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_born;
    std::vector<double> m_lifetimes;
    std::size_t m_bornCount = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Closes every page opened by script as soon as the browser names its address,
// on a connection and thread of its own: the floor for any program outside the
// browser.
class ReferenceCloser {
public:
    explicit ReferenceCloser(const std::string& portFile) : m_driver(portFile) {
        auto& c = m_driver.connection();
        c.onEvent = [&c](const tavro::wire::Json& event) {
            const std::string method = event.value("method", "");
            if (method != "Target.targetCreated" && method != "Target.targetInfoChanged")
                return;
            const auto& info = event["params"]["targetInfo"];
            const std::string url = info.value("url", "");
            if (info.value("type", "") == "page" && info.contains("openerId") &&
                url.find("://") != std::string::npos)
                c.post("Target.closeTarget", {{"targetId", info.value("targetId", "")}});
        };
        c.call("Target.setDiscoverTargets", {{"discover", true}}, 5s);
        m_thread = std::thread([this] {
            while (!m_stop)
                m_driver.connection().runUntil(std::chrono::steady_clock::now() + 2ms);
        });
    }
    ~ReferenceCloser() {
        m_stop = true;
        m_thread.join();
    }

private:
    BrowserDriver m_driver;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

enum class Closer { Ticks, News, Reference };

Summary popupLifetimes(BrowserDriver& driver, PageServer& server, const std::string& portFile, int popups,
                       Closer closer) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    PopupWatch watch(portFile);
    std::unique_ptr<Chromium> chromium;
    std::unique_ptr<ScanForm> scan;
    std::unique_ptr<RunningScan> running;
    std::unique_ptr<ReferenceCloser> reference;
    if (closer == Closer::Reference) {
        reference = std::make_unique<ReferenceCloser>(portFile);
    } else {
        chromium = std::make_unique<Chromium>(portFile);
        if (closer == Closer::Ticks)
            chromium->automation.mirror().news().mute();
        scan = std::make_unique<ScanForm>(chromium->automation);
        catchUp(chromium->automation.mirror(), driver);
        running = std::make_unique<RunningScan>(*scan, chromium->automation, closer == Closer::News);
    }
    // Pop-ups at odd moments against the timer's period, as pages open them.
    driver.open(server.url("site.localhost", "/opener.html?n=" + std::to_string(popups)));
    const auto done = [&] { return watch.lifetimes().size() >= static_cast<std::size_t>(popups); };
    const auto limit = std::chrono::milliseconds(popups * 450 + 10000);
    if (running)
        running->runUntil(done, limit);
    else
        for (const auto end = Clock::now() + limit; !done() && Clock::now() < end;)
            std::this_thread::sleep_for(10ms);
    const std::vector<double> lifetimes = watch.lifetimes();
    const Summary s = summarise(lifetimes);
    const char* names[] = {"ticks alone", "ticks and news", "reference closer"};
    std::printf("  %-17s %3zu closed of %3zu opened, %zu left open: median %4.0f ms, 95th %4.0f ms, "
                "longest %4.0f ms",
                names[static_cast<int>(closer)], lifetimes.size(), watch.born(),
                watch.born() - lifetimes.size(), s.median, s.p95, s.max);
    if (running && closer == Closer::News)
        std::printf(" (%d scans for news)", running->newsScans());
    std::printf("\n");
    return s;
}

void compareLifetimes(BrowserDriver& driver, PageServer& server, const std::string& portFile, int popups) {
    std::printf("Chromium: pop-up lifetime by its own target events, from creation to end:\n");
    const Summary ticks = popupLifetimes(driver, server, portFile, popups, Closer::Ticks);
    const Summary news = popupLifetimes(driver, server, portFile, popups, Closer::News);
    const Summary floor = popupLifetimes(driver, server, portFile, popups, Closer::Reference);
    if (floor.median > 0 && floor.max > 0)
        std::printf("  against the reference: ticks and news median %.2fx, longest %.2fx;"
                    " ticks alone median %.2fx\n",
                    news.median / floor.median, news.max / floor.max, ticks.median / floor.median);
}

// A page that opens a thousand windows at once: the scans per second that
// follow, the timer's ticks among them.
void flood(BrowserDriver& driver, PageServer& server, const std::string& portFile) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    Chromium chromium(portFile);
    ScanForm scan(chromium.automation);
    catchUp(chromium.automation.mirror(), driver);
    std::vector<Clock::time_point> scans;
    tavro::qt::BrowserNewsWatch watch(
        chromium.automation.news(), [] { return true; },
        [&] {
            scans.push_back(Clock::now());
            scan.tick();
        });
    RunningScan running(scan, chromium.automation, false);
    const auto start = Clock::now();
    driver.open(server.url("site.localhost", "/flood.html"));
    running.runFor(10s);
    std::vector<int> perSecond(11, 0);
    for (const auto& at : scans)
        ++perSecond[std::min<std::size_t>(10, static_cast<std::size_t>((at - start) / 1s))];
    std::printf(
        "Chromium: a page opening 1000 windows at once: %zu scans for news in 10 s, at most %d in one "
        "second (besides a tick every 600 ms); %zu pop-ups closed\n",
        scans.size(), *std::max_element(perSecond.begin(), perSecond.end()), scan.closed());
    driver.reset(server.url("home.localhost", "/tab.html"));
}

void cpuUse(BrowserDriver& driver, PageServer& server, ChromiumProcess& browser, int seconds, int rounds) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    openTabs(driver, server, 50);
    tavro::bench::waitQuiet(browser.pid(), 3.0, 60s);
    std::printf(
        "Chromium, headless, 50 idle tabs: %d rounds of %d s with the program (a tick every 600 ms and "
        "the news) and as long without it:\n",
        rounds, std::max(1, seconds / rounds));
    tavro::bench::printCpuRounds("Chromium", browser.pid(), seconds, rounds, [&](const auto& measured) {
        Chromium chromium(browser.portFile());
        ScanForm scan(chromium.automation);
        catchUp(chromium.automation.mirror(), driver);
        RunningScan running(scan, chromium.automation, true);
        // The connection's first questions are over before the count starts.
        running.runFor(2s);
        measured(running);
    });
}

constexpr const char* OpenerPage = R"(<!doctype html><title>opener</title><body><script>
const n = Number(new URLSearchParams(location.search).get('n'));
const ads = 'http://ads.localhost:' + location.port + '/ad.html';
let opened = 0;
function next() {
  if (opened >= n) return;
  window.open(ads + '?' + opened, 'p' + opened, 'width=300,height=200');
  ++opened;
  setTimeout(next, 170 + Math.random() * 260);
}
next();
</script>)";

constexpr const char* FloodPage = R"(<!doctype html><title>flood</title><body><script>
const ads = 'http://ads.localhost:' + location.port + '/ad.html';
for (let i = 0; i < 1000; ++i) window.open(ads + '?' + i, 'f' + i, 'width=100,height=100');
</script>)";

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int rounds = 3;
    int popups = 60;
    bool cpuOnly = false;
    bool chromiumOnly = false;
    bool firefoxOnly = false;
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (std::strcmp(argv[i], "--seconds") == 0 && valued)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0 && valued)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--popups") == 0 && valued)
            popups = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--cpu-only") == 0)
            cpuOnly = true;
        else if (std::strcmp(argv[i], "--chromium-only") == 0)
            chromiumOnly = true;
        else if (std::strcmp(argv[i], "--firefox-only") == 0)
            firefoxOnly = true;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    PageServer server;
    server.page("/flood.html", FloodPage);
    server.page("/tab.html", "<!doctype html><title>tab</title><p>an idle tab</p>");
    server.page("/ad.html", "<!doctype html><title>ad</title>buy now");
    server.page("/opener.html", OpenerPage);
    if (!firefoxOnly) {
        ChromiumProcess chromium;
        chromium.start();
        BrowserDriver driver(chromium.portFile());
        driver.reset(server.url("home.localhost", "/tab.html"));
        if (!cpuOnly) {
            tickTimes(driver, server, chromium.portFile());
            compareLifetimes(driver, server, chromium.portFile(), popups);
            flood(driver, server, chromium.portFile());
        }
        cpuUse(driver, server, chromium, seconds, rounds);
    }
    if (!chromiumOnly)
        tavro::bench::firefoxFigures(server, {popups, seconds, rounds, cpuOnly});
    return 0;
}

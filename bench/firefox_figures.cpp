// The same figures for Firefox, through the WebDriver BiDi adapter, printed by
// browser_bench after Chromium's: the tick time with 10, 50 and 200 tabs, and
// the lifetime of pop-ups with a tick every 600 ms, with the ticks alone and
// with the scans Firefox's events start, as the program runs. Firefox serves one
// session at a time, so the pages are laid out through the scan's own
// session, and the pop-ups' lifetimes are taken by the page that opens them.

#include "bench/firefox_figures.h"

#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/bidi/bidi_browser.h"
#include "platform/qt/browser_news_watch.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/chromium_process.h"
#include "tests/support/firefox_driver.h"
#include "tests/support/firefox_process.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <thread>

namespace tavro::bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::BrowserDriver;
using testing::FirefoxDriver;

struct FirefoxScanner {
    explicit FirefoxScanner(const std::string& serverFile)
        : browser(bidi::FirefoxPlaces{{serverFile}}, patient()), platform{fake.toolkit,    browser,
                                                                          fake.keys,       fake.tone,
                                                                          fake.settings,   fake.notifyArea,
                                                                          fake.helpViewer, fake.http,
                                                                          fake.files},
          form(platform) {}

    static browsers::Timeouts patient() {
        browsers::Timeouts timeouts;
        timeouts.browser = 5s;
        timeouts.search = 10s;
        return timeouts;
    }
    double tick() {
        const auto start = Clock::now();
        Timer1_Timer(form);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    bidi::BidiBrowserAutomation browser;
    fakes::FakePlatform fake;
    Platform platform;
    Quellit form;
};

void openTabs(FirefoxDriver& driver, testing::PageServer& server, std::size_t total) {
    for (std::size_t open = driver.pages().size(); open < total; ++open)
        driver.open(server.url("site" + std::to_string(open % 7) + ".localhost",
                               "/tab.html?" + std::to_string(open)));
    driver.waitFor(
        [&](const auto& pages) { return BrowserDriver::matching(pages, "/tab.html").size() >= total; }, 180s);
}

// How long Firefox takes to answer the question each tick starts with.
std::vector<double> listTimes(FirefoxScanner& scanner) {
    std::vector<double> times;
    websocket::Connection& c = scanner.browser.link().connection();
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        c.call("browsingContext.getTree", {{"maxDepth", 0}}, 5s);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return times;
}

void tickTimes(const std::string& serverFile, testing::PageServer& server) {
    std::printf("Firefox: tick time on the calling thread, no pop-up (40 ticks after 5 to settle):\n");
    FirefoxScanner scanner(serverFile);
    FirefoxDriver driver(scanner.browser.link());
    driver.reset(server.url("home.localhost", "/tab.html"));
    for (std::size_t tabs : {10U, 50U, 200U}) {
        openTabs(driver, server, tabs);
        for (int i = 0; i < 5; ++i)
            scanner.tick();
        std::vector<double> times;
        for (int i = 0; i < 40; ++i) {
            times.push_back(scanner.tick());
            std::this_thread::sleep_for(20ms);
        }
        const Summary s = summarise(times);
        const Summary list = summarise(listTimes(scanner));
        std::printf("  %3zu tabs: median %.2f ms, 95th percentile %.2f ms, max %.2f ms"
                    " (Firefox's list of pages alone: median %.2f ms)\n",
                    tabs, s.median, s.p95, s.max, list.median);
    }
    driver.reset(server.url("home.localhost", "/tab.html"));
}

// The opener notes when it opens each pop-up and when it sees it closed. The
// scan runs on an event loop as the program's does: a tick every 600 ms and,
// when announced, the scans Firefox's events start.
void lifetimes(const std::string& serverFile, testing::PageServer& server, int popups, bool announced) {
    FirefoxScanner scanner(serverFile);
    if (!announced)
        scanner.browser.events().mute();
    FirefoxDriver driver(scanner.browser.link());
    driver.reset(server.url("home.localhost", "/tab.html"));
    scanner.tick();
    qt::BrowserNewsWatch watch{scanner.browser.news(), [] { return true; }, [&] { scanner.tick(); }};
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { scanner.tick(); });
    ticks.start(600);

    const std::string opener =
        driver.open(server.url("site.localhost", "/timed.html?n=" + std::to_string(popups)));
    websocket::Json lived = websocket::Json::array();
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const auto answer =
            scanner.browser.link().connection().call("script.evaluate",
                                                     {{"expression", "JSON.stringify(window.lived || [])"},
                                                      {"target", {{"context", opener}}},
                                                      {"awaitPromise", false}},
                                                     5s);
        lived = websocket::Json::parse(answer["result"].value("value", std::string("[]")));
        if (lived.size() >= static_cast<std::size_t>(popups))
            loop.quit();
    });
    look.start(250);
    QTimer::singleShot(popups * 400 + 10000, &loop, &QEventLoop::quit);
    loop.exec();

    const Summary s = summarise(lived.get<std::vector<double>>());
    std::printf("  %-22s %zu closed of %d: median %.0f ms, 95th percentile %.0f ms, max %.0f ms"
                " (%d announced scans)\n",
                announced ? "ticks and events:" : "ticks alone:", lived.size(), popups, s.median, s.p95,
                s.max, watch.scans());
}

constexpr const char* TimedOpener = R"(<!doctype html><title>opener</title><body><script>
const n = Number(new URLSearchParams(location.search).get('n'));
const ads = 'http://ads.localhost:' + location.port + '/ad.html';
window.lived = [];
let opened = 0;
function next() {
  if (opened >= n) return;
  const born = performance.now();
  const w = window.open(ads + '?' + opened, 'p' + opened, 'width=300,height=200');
  const watch = setInterval(() => { if (w.closed) { clearInterval(watch); lived.push(performance.now() - born); } }, 5);
  ++opened;
  setTimeout(next, 170 + Math.random() * 260);
}
next();
</script>)";

} // namespace

Summary summarise(std::vector<double> values) {
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.p95 = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    s.max = values.back();
    return s;
}

void firefoxFigures(testing::PageServer& server, int popups) {
    server.page("/timed.html", TimedOpener);
    testing::VirtualDisplay display;
    if (!display.running()) {
        std::printf("Firefox: no figures, Xvfb could not be started\n");
        return;
    }
    testing::FirefoxProcess firefox(display.name());
    firefox.start();
    tickTimes(firefox.serverFile(), server);
    std::printf("Firefox: pop-up lifetime from its opening to its end, with a tick every 600 ms:\n");
    lifetimes(firefox.serverFile(), server, popups, false);
    lifetimes(firefox.serverFile(), server, popups, true);
}

} // namespace tavro::bench

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
#include <set>
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
        const Summary s = timeTicks([&] { return scanner.tick(); });
        const Summary list = summarise(listTimes(scanner));
        std::printf("  %3zu tabs: median %.2f ms, 95th percentile %.2f ms, max %.2f ms"
                    " (Firefox's list of pages alone: median %.2f ms)\n",
                    tabs, s.median, s.p95, s.max, list.median);
    }
    driver.reset(server.url("home.localhost", "/tab.html"));
}

enum class Closer { TicksAlone, TicksAndEvents, Reference };

// The floor for any program outside Firefox: each page opened by script is
// closed the moment Firefox names a navigation of it to an address with a
// host, with no walk, no question and no rule.
void closeAsAnnounced(websocket::Connection& c) {
    auto scripted = std::make_shared<std::set<std::string>>();
    c.onEvent = [&c, scripted](const websocket::Json& event) {
        const auto params = event.find("params");
        if (params == event.end() || !params->is_object())
            return;
        const std::string method = websocket::stringField(event, "method");
        const std::string context = websocket::stringField(*params, "context");
        if (method == "browsingContext.contextCreated" &&
            !websocket::stringField(*params, "originalOpener").empty())
            scripted->insert(context);
        else if (method == "browsingContext.navigationStarted" && scripted->erase(context) != 0 &&
                 websocket::stringField(*params, "url").starts_with("http"))
            c.post("browsingContext.close", {{"context", context}});
    };
}

// The opener notes when it opens each pop-up and when it sees it closed. The
// scan runs on an event loop as the program's does: a tick every 600 ms and
// the scans Firefox's events start, or the ticks alone, or in their place the
// reference closer.
Summary lifetimes(const std::string& serverFile, testing::PageServer& server, int popups, Closer closer) {
    FirefoxScanner scanner(serverFile);
    if (closer != Closer::TicksAndEvents)
        scanner.browser.events().mute();
    FirefoxDriver driver(scanner.browser.link());
    driver.reset(server.url("home.localhost", "/tab.html"));
    scanner.tick();
    qt::BrowserNewsWatch watch{scanner.browser.news(), [] { return true; }, [&] { scanner.tick(); }};
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { scanner.tick(); });
    if (closer == Closer::Reference)
        closeAsAnnounced(scanner.browser.link().connection());
    else
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
    const char* name = closer == Closer::TicksAlone       ? "ticks alone:"
                       : closer == Closer::TicksAndEvents ? "ticks and events:"
                                                          : "reference closer:";
    std::printf("  %-22s %zu closed of %d: median %.0f ms, 95th percentile %.0f ms, max %.0f ms"
                " (%d announced scans)\n",
                name, lived.size(), popups, s.median, s.p95, s.max, watch.scans());
    return s;
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

Summary timeTicks(const std::function<double()>& tick) {
    for (int i = 0; i < 5; ++i)
        tick();
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
        times.push_back(tick());
        std::this_thread::sleep_for(20ms);
    }
    return summarise(times);
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
    lifetimes(firefox.serverFile(), server, popups, Closer::TicksAlone);
    const Summary ours = lifetimes(firefox.serverFile(), server, popups, Closer::TicksAndEvents);
    const Summary floor = lifetimes(firefox.serverFile(), server, popups, Closer::Reference);
    if (floor.median > 0 && floor.max > 0)
        std::printf("  ticks and events against the reference: median %.2fx, max %.2fx\n",
                    ours.median / floor.median, ours.max / floor.max);
}

} // namespace tavro::bench

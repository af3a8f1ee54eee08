// The scans the browser's own notices start, against a real Chromium and a
// real Firefox: the real adapters and the toolkit's watch in a Qt event loop,
// the real Timer1_Timer, fakes for the window, the keys and the tone.

#include "blocking/popup_scan.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/mirror/browser_set.h"
#include "form/quellit.h"
#include "platform/qt/browser_news_watch.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/qt/qt_test_support.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/firefox_driver.h"
#include "tests/support/firefox_process.h"
#include "tests/support/page_server.h"
#include "tests/support/test_pages.h"
#include "tests/support/virtual_display.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

namespace tavro {
namespace {

using namespace std::chrono_literals;
using testing::BrowserDriver;
using Clock = std::chrono::steady_clock;

constexpr const char* OpenerPage = R"(<!doctype html><title>opener</title><script>
window.open('http://ads.localhost:' + location.port + '/ad.html', 'p', 'width=320,height=240');
</script>)";

class AnnouncedScan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        qttest::ensureApplication();
        s_server = new testing::PageServer();
        s_server->page("/opener.html", OpenerPage);
        s_server->page("/home.html", "<!doctype html><title>home</title>home");
        s_server->page("/ad.html", "<!doctype html><title>ad</title>buy now");
        s_chromium = new testing::ChromiumProcess();
        s_chromium->start();
    }
    static void TearDownTestSuite() {
        delete s_chromium;
        delete s_server;
    }

    AnnouncedScan() : driver(s_chromium->portFile()) {
        driver.reset(s_server->url("home.localhost", "/home.html"));
        form.chkBeep.setValue(CheckBox::Checked);
    }

    static devtools::Timeouts patient() {
        devtools::Timeouts timeouts;
        timeouts.search = 10s;
        return timeouts;
    }
    // The first tick finds the browser; from then on its notices arrive.
    void start() {
        Timer1_Timer(form);
        ASSERT_NE(form.BrowserWindows, nullptr);
    }
    // Opens a pop-up and waits until it is closed or the time is up. How soon
    // is browser_bench's to measure.
    void openPopup() { driver.open(s_server->url("site.localhost", "/opener.html")); }

    void openPopupAndWait(int timeoutMs) {
        openPopup();
        qttest::processUntil([&] { return !fake.tone.calls.empty(); }, timeoutMs);
    }

    static testing::PageServer* s_server;
    static testing::ChromiumProcess* s_chromium;

    BrowserDriver driver;
    devtools::DevToolsBrowserAutomation browser{devtools::BrowserPlaces{{s_chromium->portFile()}, {}},
                                                patient()};
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form{platform};
    bool blocking = true;
    qt::BrowserNewsWatch watch{browser.news(), [this] { return blocking; }, [this] { Timer1_Timer(form); }};
};

// Opens, as it loads, one kind of page marked with the query's nonce, and
// puts in its title whether the script got the new window in its hands.
constexpr const char* KindOpener = R"(<!doctype html><title>opener</title><body><script>
const q = new URLSearchParams(location.search);
const at = (host, path) => 'http://' + host + ':' + location.port + path + '?n=' + q.get('n');
const place = 'width=320,height=240';
const kinds = {
  cross: () => window.open(at('ads.localhost', '/ad.html'), '', place),
  same: () => window.open(at(location.hostname, '/ad.html'), '', place),
  tab: () => window.open(at('ads.localhost', '/ad.html')),
  noopener: () => window.open(at('ads.localhost', '/ad.html'), '_blank', 'noopener'),
  allowed: () => window.open(at('ok.localhost', '/ad.html'), '', place),
  post: () => {
    const w = window.open('', 'sign-in', place);
    const form = document.createElement('form');
    form.method = 'POST';
    form.target = 'sign-in';
    form.action = at('ok.localhost', '/ad.html');
    form.innerHTML = '<input name="token" value="' + q.get('n') + '">';
    document.body.append(form);
    form.submit();
    return w;
  },
};
document.title = kinds[q.get('kind')]() ? 'in hand' : 'null';
</script>)";

// A pop-up the rules close is closed before it asks for its page: the server
// never hears of it. One they keep loads as it would without the program,
// the body of a form sent to it and the opener's hold on it kept.
TEST_F(AnnouncedScan, ABlockedPopupsPageIsNeverRequestedAndAKeptOneLoadsAsItWould) {
    struct Row {
        const char* kind;
        bool blocked;
    };
    const Row rows[] = {{"cross", true},     {"same", true},     {"tab", false},
                        {"noopener", false}, {"allowed", false}, {"post", false}};
    s_server->page("/kinds.html", KindOpener);
    form.lstWhiteList.append(s_server->domain("ok.localhost"));
    start();
    int nonce = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        const std::string n = "n=" + std::to_string(++nonce) + "-" + row.kind;
        const std::size_t tones = fake.tone.calls.size();
        driver.open(s_server->url("site.localhost", "/kinds.html?kind=" + std::string(row.kind) + "&" + n));
        qttest::processUntil(
            [&] { return fake.tone.calls.size() > tones || !s_server->requested("/ad.html?" + n).empty(); },
            5000);
        qttest::processUntil([] { return false; }, 300); // a late request would show now
        const auto requests = s_server->requested("/ad.html?" + n);
        EXPECT_EQ(fake.tone.calls.size() - tones, row.blocked ? 1U : 0U);
        ASSERT_EQ(requests.size(), row.blocked ? 0U : 1U);
        if (std::string(row.kind) == "post") {
            EXPECT_EQ(requests.front().method, "POST");
            EXPECT_EQ(requests.front().body, "token=" + n.substr(2));
        }
        const auto opener =
            BrowserDriver::matching(driver.pages(), "kinds.html?kind=" + std::string(row.kind));
        ASSERT_EQ(opener.size(), 1U);
        if (std::string(row.kind) != "noopener") {
            EXPECT_EQ(opener.front().title, "in hand") << "window.open gave the script nothing";
        }
    }
}

// No page is held hostage: a pop-up held for a verdict that does not come
// is let go, whatever keeps it from coming. The window's thread is taken to
// have stalled throughout (no event is processed), so only the adapter can
// let the page go. A killed program ends its connection as a dropped link does.
TEST_F(AnnouncedScan, AHeldPopupIsLetGoWhateverKeepsItsVerdict) {
    enum class End { NoVerdict, LinkDropped, ProgramEnds, BlockingOff };
    const std::pair<const char*, End> rows[] = {{"no verdict", End::NoVerdict},
                                                {"link dropped", End::LinkDropped},
                                                {"program ends", End::ProgramEnds},
                                                {"blocking off", End::BlockingOff}};
    browser.mirror().news().judging(false); // the fixture's own watch holds nothing
    s_server->page("/kinds.html", KindOpener);
    int nonce = 0;
    for (const auto& [name, end] : rows) {
        SCOPED_TRACE(name);
        auto held = std::make_unique<devtools::DevToolsBrowserAutomation>(
            devtools::BrowserPlaces{{s_chromium->portFile()}, {}}, patient());
        ASSERT_TRUE(held->mirror().waitConnected(10s));
        const std::string n = "n=hold-" + std::to_string(++nonce);
        driver.open(s_server->url("site.localhost", "/kinds.html?kind=cross&" + n));
        const auto isHeld = [&] {
            const auto pages = held->mirror().snapshot();
            return std::any_of(pages.begin(), pages.end(), [](const auto& page) { return page->held; });
        };
        // On a busy machine the bound may let the page go before all its
        // facts are in: it was not kept waiting then either.
        const auto heldSince = Clock::now();
        while (!isHeld() && s_server->requested("/ad.html?" + n).empty() && Clock::now() - heldSince < 10s)
            std::this_thread::sleep_for(5ms);
        if (!isHeld()) {
            EXPECT_EQ(s_server->requested("/ad.html?" + n).size(), 1U) << "neither held nor let go";
            std::printf("%s: let go by the bound before its facts were in\n", name);
            continue;
        }
        ASSERT_TRUE(s_server->requested("/ad.html?" + n).empty());
        const auto since = Clock::now();
        if (end == End::LinkDropped)
            held->link().letGo();
        else if (end == End::ProgramEnds)
            held.reset();
        else if (end == End::BlockingOff)
            held->mirror().news().judging(false);
        while (s_server->requested("/ad.html?" + n).empty() && Clock::now() - since < 10s)
            std::this_thread::sleep_for(5ms);
        EXPECT_EQ(s_server->requested("/ad.html?" + n).size(), 1U) << "the page is still held";
        std::printf("%s: let go after %lld ms\n", name,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count()));
    }
}

testing::PageServer* AnnouncedScan::s_server = nullptr;
testing::ChromiumProcess* AnnouncedScan::s_chromium = nullptr;

TEST_F(AnnouncedScan, PopupIsClosedWithoutWaitingForATick) {
    start();
    // No tick comes at all: only the browser's notice can start the scan.
    openPopupAndWait(3000);
    ASSERT_EQ(fake.tone.calls.size(), 1U) << "not closed without a tick";
    EXPECT_GE(watch.scans(), 1);
    EXPECT_EQ(fakes::entries(form.lstBlockedUrls),
              std::vector<std::string>{s_server->domain("ads.localhost")});
    EXPECT_TRUE(driver.waitFor(
        [](const auto& pages) { return BrowserDriver::matching(pages, "/ad.html").empty(); }, 5s));
}

TEST_F(AnnouncedScan, NothingIsClosedWhileBlockingIsOff) {
    start();
    blocking = false;
    openPopup();
    // A busy machine may take over a second to show the pop-up; what its
    // birth told the program is then given as long again to start a scan.
    ASSERT_TRUE(driver.waitFor(
        [](const auto& pages) { return BrowserDriver::matching(pages, "/ad.html").size() == 1; }, 10s));
    qttest::processUntil([&] { return !fake.tone.calls.empty(); }, 1500);
    EXPECT_EQ(watch.scans(), 0);
    EXPECT_TRUE(fake.tone.calls.empty());
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
}

TEST_F(AnnouncedScan, WithoutNoticesTheTicksStillClosePopups) {
    browser.mirror().news().mute();
    start();
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [this] { Timer1_Timer(form); });
    ticks.start(600);
    openPopupAndWait(3000);
    EXPECT_EQ(fake.tone.calls.size(), 1U);
    EXPECT_EQ(watch.scans(), 0) << "a notice came through after all";
}

// Firefox's events start the scan too, through the set of browsers the
// program watches, beside a Chromium that tells nothing.
TEST(AnnouncedScanFirefox, PopupIsClosedWithoutWaitingForATick) {
    qttest::ensureApplication();
    testing::VirtualDisplay display;
    ASSERT_TRUE(display.running()) << "Xvfb could not be started";
    testing::PageServer server;
    testing::servePages(server);
    testing::FirefoxProcess firefox(display.name());
    firefox.start();

    browsers::Timeouts timeouts;
    timeouts.search = 10s;
    bidi::BidiBrowserAutomation firefoxAutomation{bidi::FirefoxPlaces{{firefox.serverFile()}}, timeouts};
    devtools::DevToolsBrowserAutomation absentChromium{devtools::BrowserPlaces{{}, {}}};
    browsers::BrowserSet browsers{{&absentChromium, &firefoxAutomation}};
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browsers,        fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form{platform};
    form.chkBeep.setValue(CheckBox::Checked);
    qt::BrowserNewsWatch watch{browsers.news(), [] { return true; }, [&] { Timer1_Timer(form); }};

    testing::FirefoxDriver driver{firefoxAutomation.link()};
    driver.reset(server.url("home.localhost", "/home.html"));
    Timer1_Timer(form);
    ASSERT_NE(form.BrowserWindows, nullptr);

    // No tick comes at all: only Firefox's events can start the scan.
    driver.open(server.url("site.localhost", "/opener.html?open=popup"));
    qttest::processUntil([&] { return !fake.tone.calls.empty(); }, 5000);
    ASSERT_EQ(fake.tone.calls.size(), 1U) << "not closed without a tick";
    EXPECT_GE(watch.scans(), 1);
    EXPECT_EQ(fakes::entries(form.lstBlockedUrls), std::vector<std::string>{server.domain("ads.localhost")});
}

} // namespace
} // namespace tavro

// The popup scan against a real Firefox ESR on a virtual X display: the real
// WebDriver BiDi adapter, the real Timer1_Timer, and fakes for the window, the
// keys and the tone. One Firefox serves the whole suite; each test has a
// session of its own, which it ends when its adapter goes.

#include "blocking/popup_scan.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/mirror/browser_set.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/support/chromium_process.h"
#include "tests/support/firefox_driver.h"
#include "tests/support/firefox_process.h"
#include "tests/support/silent_listener.h"
#include "tests/support/test_pages.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace tavro {
namespace {

using fakes::entries;

using namespace std::chrono_literals;
using testing::BrowserDriver;
using testing::FirefoxDriver;
using testing::FirefoxProcess;
using testing::PageServer;
using testing::TestPage;
using Entries = std::vector<std::string>;
using Pages = std::vector<TestPage>;

// A busy machine may answer slowly; pages keep the program's short deadline.
browsers::Timeouts patient() {
    browsers::Timeouts timeouts;
    timeouts.connect = 2s;
    timeouts.search = 5s;
    return timeouts;
}

auto countOf(const std::string& text, std::size_t n) {
    return [text, n](const Pages& pages) { return BrowserDriver::matching(pages, text).size() == n; };
}

auto loaded(const std::string& title, std::size_t n) {
    return [title, n](const Pages& pages) { return BrowserDriver::titled(pages, title).size() == n; };
}

// Holds the tick's platform: the adapter under test and the fakes.
struct Scanner {
    // settle waits until the program has heard all the browser has to tell.
    Scanner(BrowserAutomation& browser, std::function<void()> settle)
        : platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                   fake.notifyArea, fake.helpViewer, fake.http, fake.files},
          m_settle(std::move(settle)) {
        form.chkBeep.setValue(CheckBox::Checked);
    }
    void tick() {
        m_settle();
        Timer1_Timer(form);
    }
    int tones() const { return static_cast<int>(fake.tone.calls.size()); }

    fakes::FakePlatform fake;
    Platform platform;
    Quellit form{platform};

private:
    std::function<void()> m_settle;
};

class FirefoxScan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_display = new testing::VirtualDisplay();
        ASSERT_TRUE(s_display->running()) << "Xvfb could not be started";
        s_server = new PageServer();
        testing::servePages(*s_server);
        s_firefox = new FirefoxProcess(s_display->name());
        s_firefox->start();
    }
    static void TearDownTestSuite() {
        delete s_firefox;
        delete s_server;
        delete s_display;
    }

    FirefoxScan() { driver.reset(s_server->url("home.localhost", "/home.html")); }

    static bidi::FirefoxPlaces places() { return bidi::FirefoxPlaces{{s_firefox->serverFile()}}; }
    std::string ads() const { return s_server->domain("ads.localhost"); }
    std::string openerUrl(const std::string& query) const {
        return s_server->url("site.localhost", "/opener.html?" + query);
    }

    static testing::VirtualDisplay* s_display;
    static PageServer* s_server;
    static FirefoxProcess* s_firefox;

    bidi::BidiBrowserAutomation browser{places(), patient()};
    FirefoxDriver driver{browser.link()};
    Scanner scan{browser, [this] {
                     testing::caughtUp(
                         browser.mirror(), [this] { return driver.pages(); }, false);
                 }};
};

testing::VirtualDisplay* FirefoxScan::s_display = nullptr;
PageServer* FirefoxScan::s_server = nullptr;
FirefoxProcess* FirefoxScan::s_firefox = nullptr;

struct BlockedCase {
    const char* name;
    const char* open;
    const char* url;   // what the pop-up's address contains once it has loaded
    const char* title; // its title then; empty for a page that never answers
    const char* host;  // the host whose domain is listed
};

void PrintTo(const BlockedCase& c, std::ostream* os) {
    *os << c.name;
}

class FirefoxBlockedPopups : public FirefoxScan, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(FirefoxBlockedPopups, AreClosedAtTheFirstTickAndListedOnce) {
    const BlockedCase& c = GetParam();
    driver.open(openerUrl(std::string("open=") + c.open));
    ASSERT_TRUE(driver.waitFor([&](const Pages& pages) {
        const auto found = BrowserDriver::matching(pages, c.url);
        return found.size() == 1 && found.front().title == c.title;
    }));
    if (*c.title == '\0')
        std::this_thread::sleep_for(500ms); // into its endless script

    scan.tick();
    EXPECT_EQ(entries(scan.form.lstBlockedUrls), Entries{s_server->domain(c.host)});
    EXPECT_EQ(scan.tones(), 1);
    EXPECT_TRUE(driver.waitFor(countOf(c.url, 0), 5s)) << "the pop-up is still open";
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/opener.html").size(), 1U) << "the opener must stay";

    scan.tick();
    EXPECT_EQ(entries(scan.form.lstBlockedUrls), Entries{s_server->domain(c.host)});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FirefoxBlockedPopups,
    ::testing::Values(BlockedCase{"CrossSite", "popup", "ads.localhost", "ad", "ads.localhost"},
                      BlockedCase{"SameSite", "samesite", "/ad.html", "ad", "site.localhost"},
                      BlockedCase{"Navigated", "navigate", "/ad.html?hopped", "ad", "track.localhost"},
                      BlockedCase{"Alert", "alert", "/alert.html", "alert", "ads.localhost"},
                      BlockedCase{"EndlessLoop", "loop", "/loop.html", "", "ads.localhost"}),
    [](const auto& param) { return std::string(param.param.name); });

// Firefox names the opener of a noopener page too; only the page itself can
// say that it cannot reach it.
TEST_F(FirefoxScan, ScriptTabAndNoopenerTabStayAndOnlyAggressiveBlockingClosesTheScriptTab) {
    driver.open(openerUrl("open=tab&open=noopener"));
    ASSERT_TRUE(driver.waitFor([](const Pages& pages) {
        return BrowserDriver::titled(pages, "tab").size() == 1 &&
               BrowserDriver::titled(pages, "free").size() == 1;
    }));
    for (int i = 0; i < 3; ++i)
        scan.tick();
    EXPECT_TRUE(entries(scan.form.lstBlockedUrls).empty());
    EXPECT_EQ(scan.tones(), 0);

    scan.form.chkMenubar.setValue(CheckBox::Checked);
    scan.tick();
    EXPECT_EQ(entries(scan.form.lstBlockedUrls), Entries{ads()});
    EXPECT_TRUE(driver.waitFor(countOf("/tab.html", 0), 5s));
    scan.tick();
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/free.html").size(), 1U);
}

TEST_F(FirefoxScan, PopupFromAnAllowedDomainStaysOpen) {
    scan.form.lstWhiteList.append(ads());
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    for (int i = 0; i < 3; ++i)
        scan.tick();
    EXPECT_TRUE(entries(scan.form.lstBlockedUrls).empty());
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
}

TEST_F(FirefoxScan, TwoPopupsOfOneDomainInOneTickGiveOneEntry) {
    driver.open(openerUrl("open=two"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 2)));
    scan.tick();
    EXPECT_EQ(entries(scan.form.lstBlockedUrls), Entries{ads()});
    EXPECT_EQ(scan.tones(), 2);
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html?", 0), 5s));
}

TEST_F(FirefoxScan, CtrlHeldLetsThePopupThroughAndMovesItsDomain) {
    scan.form.lstBlockedUrls.append(ads());
    scan.fake.keys.ctrlDown = true;
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    scan.tick();
    EXPECT_EQ(entries(scan.form.lstWhiteList), Entries{ads()});
    EXPECT_TRUE(entries(scan.form.lstBlockedUrls).empty());
    scan.fake.keys.ctrlDown = false;
    scan.tick();
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
}

// Firefox lists a pop-up as about:blank until its first page arrives; the
// address it is loading is known from the start of its navigation.
TEST_F(FirefoxScan, PopupWhoseFirstPageHasNotArrivedIsClosedAtTheFirstTick) {
    testing::SilentListener stalled; // takes the request and never answers
    const std::string ad = "http://ads.localhost:" + std::to_string(stalled.port()) + "/ad.html";
    s_server->page("/stalled.html",
                   "<!doctype html><script>window.open('" + ad + "', 'p', 'width=320,height=240')</script>");
    driver.open(s_server->url("site.localhost", "/stalled.html"));
    ASSERT_TRUE(driver.waitFor([](const Pages& pages) {
        return std::any_of(pages.begin(), pages.end(), [](const TestPage& p) { return !p.openerId.empty(); });
    }));
    ASSERT_EQ(BrowserDriver::matching(driver.pages(), "about:blank").size(), 1U) << "the page arrived";
    std::this_thread::sleep_for(100ms);

    scan.tick();
    EXPECT_EQ(entries(scan.form.lstBlockedUrls), Entries{"ads.localhost:" + std::to_string(stalled.port())});
    EXPECT_EQ(scan.tones(), 1);
}

// The list of pages serves from tick to tick while Firefox tells of no
// change; a pop-up opened after quiet ticks is such a change.
TEST_F(FirefoxScan, PopupOpenedAfterQuietTicksIsClosedAtTheNextTick) {
    scan.tick();
    scan.tick();
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    scan.tick();
    EXPECT_EQ(scan.tones(), 1);
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s)) << "the pop-up is still open";
}

TEST_F(FirefoxScan, NewBrowserWindowOpensInFirefox) {
    browsers::BrowserSet set({&browser});
    auto window = set.createBrowser();
    window->Navigate2(s_server->url("vendor.localhost", "/ad.html?upgrade"));
    EXPECT_TRUE(driver.waitFor(countOf("?upgrade", 1)));
}

// Firefox serves one session at a time: while another client holds it the
// program sees no Firefox, asks again later, and takes over once it is free.
TEST_F(FirefoxScan, SessionIsEndedWhenLetGoAndAHeldSessionIsAskedForAgainLater) {
    scan.tick(); // the fixture's session is in use
    bidi::BidiBrowserAutomation second(places());
    std::this_thread::sleep_for(1s); // asked, and refused
    EXPECT_THROW(second.createShellWindows(), Error);

    browser.link().letGo();
    EXPECT_THROW(second.createShellWindows(), Error) << "asked again before its back-off ended";
    EXPECT_TRUE(second.mirror().waitConnected(5s)) << "the session was not ended, or not asked for again";
    EXPECT_FALSE(browser.mirror().connected());
    second.link().letGo();
}

TEST_F(FirefoxScan, BlockingResumesWhenFirefoxIsRestarted) {
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    scan.tick();
    ASSERT_EQ(scan.tones(), 1);
    const auto collection = scan.form.BrowserWindows;

    s_firefox->kill();
    for (int i = 0; i < 3; ++i)
        scan.tick();
    s_firefox->start();
    driver.reset(s_server->url("home.localhost", "/home.html"));
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    scan.tick();
    EXPECT_EQ(scan.tones(), 2);
    EXPECT_EQ(scan.form.BrowserWindows, collection) << "the collection is created once";
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s));
}

// Both browsers at once: one tick walks Chromium's pages, then Firefox's.
TEST_F(FirefoxScan, APopupInEachBrowserIsClosedInTheSameTick) {
    testing::ChromiumProcess chromium;
    chromium.start();
    devtools::DevToolsBrowserAutomation chromiumAdapter(devtools::BrowserPlaces{{chromium.portFile()}, {}},
                                                        patient());
    browsers::BrowserSet both({&chromiumAdapter, &browser});
    BrowserDriver chromiumDriver(chromium.portFile());
    Scanner twice(both, [&] {
        testing::caughtUp(
            chromiumAdapter.mirror(), [&] { return chromiumDriver.pages(); }, true);
        testing::caughtUp(
            browser.mirror(), [this] { return driver.pages(); }, false);
    });

    chromiumDriver.open(openerUrl("open=popup"));
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(chromiumDriver.waitFor(loaded("ad", 1)));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    twice.tick();
    EXPECT_EQ(twice.tones(), 2);
    EXPECT_EQ(entries(twice.form.lstBlockedUrls), Entries{ads()});
    EXPECT_TRUE(chromiumDriver.waitFor(countOf("/ad.html", 0), 5s));
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s));
}

} // namespace
} // namespace tavro

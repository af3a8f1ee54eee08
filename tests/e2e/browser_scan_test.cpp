// The popup scan against a real Chromium: the real DevTools adapter, the real
// Timer1_Timer, and fakes for the window, the keys and the tone.

#include "blocking/popup_scan.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/mirror/browser_set.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"
#include "tests/support/test_pages.h"

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace tavro {
namespace {

using fakes::entries;

using namespace std::chrono_literals;
using testing::BrowserDriver;
using testing::ChromiumProcess;
using testing::PageServer;
using testing::servePages;
using testing::TestPage;
using Entries = std::vector<std::string>;

// The browser answers within milliseconds, but the machine that runs the tests
// may be busy; a walk that gives up examines nothing and would fail a test
// for the wrong reason. Pages keep the program's own short deadline.
devtools::Timeouts patient() {
    devtools::Timeouts timeouts;
    timeouts.connect = 2s;
    timeouts.search = 10s;
    return timeouts;
}

auto countOf(const std::string& text, std::size_t n) {
    return [text, n](const std::vector<TestPage>& pages) {
        return BrowserDriver::matching(pages, text).size() == n;
    };
}

// n pages have loaded a document with this title.
auto loaded(const std::string& title, std::size_t n) {
    return [title, n](const std::vector<TestPage>& pages) {
        return BrowserDriver::titled(pages, title).size() == n;
    };
}

// One browser for the whole suite keeps it short; every test starts from a
// single blank tab.
class BrowserScan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new PageServer();
        servePages(*s_server);
        s_chromium = new ChromiumProcess();
        s_chromium->start();
    }
    static void TearDownTestSuite() {
        delete s_chromium;
        delete s_server;
    }

    explicit BrowserScan(devtools::Timeouts timeouts = patient())
        : driver(s_chromium->portFile()), browser{devtools::BrowserPlaces{{s_chromium->portFile()}, {}},
                                                  timeouts} {
        driver.reset(s_server->url("home.localhost", "/home.html"));
        form.chkBeep.setValue(CheckBox::Checked);
    }

    std::string ads() const { return s_server->domain("ads.localhost"); }
    std::string openerUrl(const std::string& query) const {
        return s_server->url("site.localhost", "/opener.html?" + query);
    }
    int tones() const { return static_cast<int>(fake.tone.calls.size()); }
    // A tick once the program has heard all the browser has to tell.
    void tick() {
        testing::caughtUp(
            browser.mirror(), [this] { return driver.pages(); }, true);
        Timer1_Timer(form);
    }
    std::vector<browsers::PageRecord> seen() const {
        std::vector<browsers::PageRecord> records;
        for (const auto& record :
             dynamic_cast<const browsers::MirroredPages&>(*form.BrowserWindows).lastWalk())
            records.push_back(*record);
        return records;
    }

    static PageServer* s_server;
    static ChromiumProcess* s_chromium;

    BrowserDriver driver;
    devtools::DevToolsBrowserAutomation browser;
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form{platform};
};

PageServer* BrowserScan::s_server = nullptr;
ChromiumProcess* BrowserScan::s_chromium = nullptr;

// Each pop-up has loaded before the tick, so the tick under test is the first
// one that can see where it is; it must close it there, list it once, and
// sound one tone per close request. (Until its first document arrives, a new
// pop-up may report no address at all, and a page without a domain is passed
// over.)
struct BlockedCase {
    const char* name;
    const char* open;
    const char* url;   // what the pop-up's address contains once it has loaded
    const char* title; // its title then; empty for "host:port/path", a text file's
    const char* host;  // the host whose domain is listed
    bool settle;       // give the page a moment to reach its alert() or loop
};

void PrintTo(const BlockedCase& c, std::ostream* os) {
    *os << c.name;
}

class BlockedPopups : public BrowserScan, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(BlockedPopups, AreClosedAtTheFirstTickAndListedOnce) {
    const BlockedCase& c = GetParam();
    driver.open(openerUrl(std::string("open=") + c.open));
    const std::string title = *c.title != '\0' ? std::string(c.title) : s_server->domain(c.host) + c.url;
    ASSERT_TRUE(driver.waitFor([&](const auto& pages) {
        const auto loaded = BrowserDriver::titled(pages, title);
        return loaded.size() == 1 && loaded.front().url.find(c.url) != std::string::npos;
    }));
    if (c.settle)
        std::this_thread::sleep_for(500ms);

    tick();
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{s_server->domain(c.host)});
    EXPECT_EQ(tones(), 1);
    EXPECT_TRUE(driver.waitFor(countOf(c.url, 0), 5s)) << "the pop-up is still open";
    EXPECT_TRUE(driver.waitFor(countOf("/opener.html", 1), 1s)) << "the opener must stay";

    tick();
    tick();
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{s_server->domain(c.host)});
    EXPECT_TRUE(entries(form.lstWhiteList).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BlockedPopups,
    ::testing::Values(BlockedCase{"CrossSite", "popup", "ads.localhost", "ad", "ads.localhost", false},
                      BlockedCase{"SameSite", "samesite", "/ad.html", "ad", "site.localhost", false},
                      BlockedCase{"Navigated", "navigate", "/ad.html?hopped", "ad", "track.localhost", false},
                      BlockedCase{"Alert", "alert", "/alert.html", "alert", "ads.localhost", true},
                      BlockedCase{"EndlessLoop", "loop", "/loop.html", "loop", "ads.localhost", true},
                      BlockedCase{"PlainText", "text", "/note.txt", "", "ads.localhost", false}),
    [](const auto& param) { return std::string(param.param.name); });

// Telling an SVG document from an HTML one takes the page's own answer. On a
// busy machine that answer can miss the program's short page deadline, and a
// test left unanswered counts as holding, which closes the pop-up; this test is
// about the answer, so it waits for it.
class BrowserScanWaitingForPages : public BrowserScan {
protected:
    BrowserScanWaitingForPages() : BrowserScan(waitingForPages()) {}
    static devtools::Timeouts waitingForPages() {
        devtools::Timeouts timeouts = patient();
        timeouts.page = 2s;
        return timeouts;
    }
};

TEST_F(BrowserScanWaitingForPages, SvgPopupIsNotAnHtmlDocumentAndStaysOpen) {
    driver.open(openerUrl("open=svg"));
    ASSERT_TRUE(driver.waitFor(countOf("/picture.svg", 1)));
    std::this_thread::sleep_for(300ms);
    tick();
    tick();
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());
    EXPECT_TRUE(driver.waitFor(countOf("/picture.svg", 1), 1s));
}

TEST_F(BrowserScan, ScriptTabAndNoopenerTabStayWithAggressiveBlockingOff) {
    driver.open(openerUrl("open=tab&open=noopener"));
    // Both loaded: closing a tab while another page of its site is still on
    // its way in can take that page's renderer down with it.
    ASSERT_TRUE(driver.waitFor([](const auto& pages) {
        return BrowserDriver::titled(pages, "tab").size() == 1 &&
               BrowserDriver::titled(pages, "free").size() == 1;
    }));
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());
    EXPECT_EQ(tones(), 0);
    const auto pages = driver.pages();
    EXPECT_EQ(BrowserDriver::matching(pages, "/tab.html").size(), 1U);
    EXPECT_EQ(BrowserDriver::matching(pages, "/free.html").size(), 1U);
}

TEST_F(BrowserScan, AggressiveBlockingClosesTheScriptTabButNotTheNoopenerTab) {
    form.chkMenubar.setValue(CheckBox::Checked);
    driver.open(openerUrl("open=tab&open=noopener"));
    // Both loaded: closing a tab while another page of its site is still on
    // its way in can take that page's renderer down with it.
    ASSERT_TRUE(driver.waitFor([](const auto& pages) {
        return BrowserDriver::titled(pages, "tab").size() == 1 &&
               BrowserDriver::titled(pages, "free").size() == 1;
    }));
    tick();
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{ads()});
    EXPECT_EQ(tones(), 1); // the tab shows its menu bar: only the aggressive test closes it
    EXPECT_TRUE(driver.waitFor(countOf("/tab.html", 0), 5s));
    tick();
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/free.html").size(), 1U);
}

TEST_F(BrowserScan, AggressiveBlockingAsksAPopupWindowTwice) {
    form.chkMenubar.setValue(CheckBox::Checked);
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    tick();
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{ads()});
    EXPECT_EQ(tones(), 2);
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s));
}

TEST_F(BrowserScan, PopupFromAnAllowedDomainStaysOpen) {
    form.lstWhiteList.append(ads());
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());
    EXPECT_EQ(tones(), 0);
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
}

TEST_F(BrowserScan, TwoPopupsOfOneDomainInOneTickGiveOneEntry) {
    driver.open(openerUrl("open=two"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 2)));
    tick();
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{ads()});
    EXPECT_EQ(tones(), 2);
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html?", 0), 5s));
}

TEST_F(BrowserScan, CtrlHeldLetsThePopupThroughAndMovesItsDomain) {
    form.lstBlockedUrls.append(ads());
    fake.keys.ctrlDown = true;
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    tick();
    EXPECT_EQ(entries(form.lstWhiteList), Entries{ads()});
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());
    EXPECT_EQ(tones(), 0);

    fake.keys.ctrlDown = false;
    tick();
    tick();
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());
}

// An empty tab has no domain to allow. The browser lists its pages by their
// last activity, and the pop-up may become active after a tab opened behind
// it: a walk that saw no empty tab ahead of the pop-up proves nothing, so the
// case is set up again with one more empty tab.
TEST_F(BrowserScan, CtrlHeldReachesAPopupBehindAnEmptyTab) {
    driver.reset("about:blank");
    fake.keys.ctrlDown = true;
    driver.open(openerUrl("open=popup"));
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    bool blankAhead = false;
    for (std::size_t attempt = 0; attempt < 3 && !blankAhead; ++attempt) {
        form.lstWhiteList.clear();
        driver.open("about:blank");
        ASSERT_TRUE(driver.waitFor(countOf("about:blank", attempt + 2)));
        // A busy browser may name the pop-up's window a tick late; before the
        // mend no number of ticks got past the empty tab.
        for (int i = 0; i < 5 && entries(form.lstWhiteList).empty(); ++i)
            tick();
        const auto walked = seen();
        const auto urlHas = [&](const std::string& text) {
            return std::find_if(walked.begin(), walked.end(), [&](const browsers::PageRecord& r) {
                return r.url.find(text) != std::string::npos;
            });
        };
        blankAhead = urlHas("about:blank") < urlHas("/ad.html");
    }
    ASSERT_TRUE(blankAhead) << "the case needs an empty tab ahead of the pop-up";
    EXPECT_EQ(entries(form.lstWhiteList), Entries{ads()});
    EXPECT_TRUE(entries(form.lstBlockedUrls).empty());

    fake.keys.ctrlDown = false;
    tick();
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/ad.html").size(), 1U);
}

// The adapter decides pop-up or tab from the browser's windows, not from the
// page, so what the page reports about its menu bar cannot mislead it.
TEST_F(BrowserScan, WalkAnswersEveryPageFromTheBrowser) {
    driver.open(openerUrl("open=popup&open=tab"));
    ASSERT_TRUE(driver.waitFor([](const auto& pages) {
        return BrowserDriver::matching(pages, "/ad.html").size() == 1 &&
               BrowserDriver::matching(pages, "/tab.html").size() == 1;
    }));
    form.lstWhiteList.append(ads()); // look, do not close
    // A busy page may answer after its time is up; its answer still counts.
    auto known = [&] {
        const auto records = seen();
        const auto pages = driver.pages();
        return std::all_of(pages.begin(), pages.end(), [&](const TestPage& page) {
            const auto record = std::find_if(records.begin(), records.end(),
                                             [&](const browsers::PageRecord& r) { return r.id == page.id; });
            return !page.canAccessOpener || (record != records.end() && record->opener && record->html);
        });
    };
    tick();
    for (int i = 0; i < 50 && !known(); ++i) {
        std::this_thread::sleep_for(50ms);
        tick();
    }
    const auto pages = driver.pages();
    const auto records = seen();
    ASSERT_EQ(records.size(), pages.size());
    for (const TestPage& page : pages) {
        const auto record = std::find_if(records.begin(), records.end(),
                                         [&](const browsers::PageRecord& r) { return r.id == page.id; });
        ASSERT_NE(record, records.end()) << page.url;
        EXPECT_EQ(record->url, page.url);
        EXPECT_EQ(record->opener, page.canAccessOpener);
        // Only pages opened by script are asked what they show.
        ASSERT_EQ(record->html.has_value(), page.canAccessOpener) << page.url;
        if (record->html) {
            EXPECT_TRUE(*record->html);
        }
        ASSERT_TRUE(record->menuBar.has_value()) << page.url;
        EXPECT_EQ(*record->menuBar, page.url.find("/ad.html") == std::string::npos) << page.url;
    }
}

TEST_F(BrowserScan, NewBrowserWindowOpensInTheConnectedBrowser) {
    const std::string blank = driver.pages().front().id;
    const std::string url = s_server->url("vendor.localhost", "/ad.html?upgrade");
    auto window = browser.createBrowser();
    window->Navigate2(url);
    window->setVisible(true);
    ASSERT_TRUE(driver.waitFor(countOf("?upgrade", 1)));
    const TestPage page = BrowserDriver::matching(driver.pages(), "?upgrade").front();
    EXPECT_NE(driver.windowOf(page.id), driver.windowOf(blank));
}

std::uint16_t closedPort() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::address_v4::loopback(), 0});
    return acceptor.local_endpoint().port();
}

TEST(NoBrowser, TicksExamineNothingAndNewWindowsGoToTheDesktopOpener) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavro-nobrowser-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string opener = (folder / "opener").string();
    const std::string log = (folder / "opened.txt").string();
    std::ofstream(opener) << "#!/bin/sh\necho \"$1\" >> '" << log << "'\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);

    devtools::DevToolsBrowserAutomation chromium(
        devtools::BrowserPlaces{{(folder / "DevToolsActivePort").string()}, {closedPort()}});
    bidi::BidiBrowserAutomation firefox(
        bidi::FirefoxPlaces{{(folder / "WebDriverBiDiServer.json").string()}});
    browsers::BrowserSet browser({&chromium, &firefox}, opener);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    for (int i = 0; i < 3; ++i)
        Timer1_Timer(form);
    EXPECT_EQ(form.BrowserWindows, nullptr);
    EXPECT_THROW(browser.createShellWindows(), Error);

    auto window = browser.createBrowser();
    window->Navigate2("http://www.vendor.example/");
    window->setVisible(true);
    std::string line;
    std::getline(std::ifstream(log), line);
    EXPECT_EQ(line, "http://www.vendor.example/");

    browsers::BrowserSet without({&chromium, &firefox}, (folder / "missing-opener").string());
    EXPECT_THROW(without.createBrowser(), Error);
    std::filesystem::remove_all(folder);
}

// Ticks as the timer gives them, until the tones reach a number or the ticks run out.
void tickUntilTones(Quellit& form, const fakes::FakeTone& tone, std::size_t tones, int ticks) {
    for (int i = 0; i < ticks && tone.calls.size() < tones; ++i) {
        if (i > 0)
            std::this_thread::sleep_for(600ms);
        Timer1_Timer(form);
    }
}

// The browser is looked for away from the ticks, which never wait for it: the
// first tick after it answers starts the search, the next one scans.
TEST(BrowserRestart, ScanFindsTheRestartedBrowserWithinATickOrTwo) {
    PageServer server;
    servePages(server);
    ChromiumProcess chromium;
    chromium.start();

    devtools::Timeouts timeouts = patient();
    timeouts.search = 0ms;
    devtools::DevToolsBrowserAutomation browser(devtools::BrowserPlaces{{chromium.portFile()}, {}}, timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    form.chkBeep.setValue(CheckBox::Checked);
    const std::string opener = server.url("site.localhost", "/opener.html?open=popup");

    {
        BrowserDriver driver(chromium.portFile());
        driver.open(opener);
        ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
        tickUntilTones(form, fake.tone, 1, 2);
        EXPECT_EQ(fake.tone.calls.size(), 1U) << "not blocked within two ticks of the start";
    }
    const auto collection = form.BrowserWindows;
    ASSERT_NE(collection, nullptr);

    chromium.kill();
    tickUntilTones(form, fake.tone, 2, 3);
    EXPECT_EQ(fake.tone.calls.size(), 1U);

    chromium.start();
    BrowserDriver driver(chromium.portFile());
    driver.open(opener);
    ASSERT_TRUE(driver.waitFor(loaded("ad", 1)));
    tickUntilTones(form, fake.tone, 2, 2);
    EXPECT_EQ(fake.tone.calls.size(), 2U) << "not blocked within two ticks of the restart";
    EXPECT_EQ(form.BrowserWindows, collection) << "the collection is created once";
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{server.domain("ads.localhost")});
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s));
}

// With real windows on an X display, a pop-up window and a tab opened by
// script must be told apart just as they are in a headless browser.
TEST(BrowserScanOnX, PopupWindowIsClosedAndScriptTabKept) {
    testing::VirtualDisplay display;
    ASSERT_TRUE(display.running()) << "Xvfb could not be started";
    PageServer server;
    servePages(server);
    ChromiumProcess chromium(testing::ChromiumOptions{display.name(), {}, {}});
    chromium.start();

    devtools::DevToolsBrowserAutomation browser(devtools::BrowserPlaces{{chromium.portFile()}, {}},
                                                patient());
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    form.chkBeep.setValue(CheckBox::Checked);

    BrowserDriver driver(chromium.portFile());
    driver.open(server.url("site.localhost", "/opener.html?open=popup&open=tab"));
    ASSERT_TRUE(driver.waitFor([](const auto& pages) {
        return BrowserDriver::titled(pages, "ad").size() == 1 &&
               BrowserDriver::titled(pages, "tab").size() == 1;
    }));
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), Entries{server.domain("ads.localhost")});
    EXPECT_EQ(fake.tone.calls.size(), 1U);
    EXPECT_TRUE(driver.waitFor(countOf("/ad.html", 0), 5s));
    Timer1_Timer(form);
    EXPECT_EQ(BrowserDriver::matching(driver.pages(), "/tab.html").size(), 1U);
}

} // namespace
} // namespace tavro

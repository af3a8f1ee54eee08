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
#include <chrono>
#include <gtest/gtest.h>

namespace tavro {
namespace {

using namespace std::chrono_literals;
using testing::BrowserDriver;

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
    void openPopupAndWait(int timeoutMs) {
        driver.open(s_server->url("site.localhost", "/opener.html"));
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
    openPopupAndWait(1500);
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

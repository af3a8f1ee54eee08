// The browser script a user starts, the demo pages it serves, and the program's
// default way of finding that browser: the script and the adapter must agree
// on the profile folder, and the demo's buttons must open pop-ups the scan
// closes.

#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/cdp/cdp_browser.h"
#include "tests/cdp/browser_driver.h"
#include "tests/cdp/chromium_process.h"
#include "tests/fakes/fake_platform.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace tavro {
namespace {

using namespace std::chrono_literals;
using testing::BrowserDriver;
using testing::TestPage;

const std::string Script = std::string(TAVRO_SOURCE_DIR) + "/scripts/start-browser.sh";

int runScript(const std::string& arguments, const std::string& dataHome) {
    const std::string command = "XDG_DATA_HOME='" + dataHome + "' '" + Script + "' " + arguments;
    return std::system(command.c_str());
}

// A real click, so the browser's own blocker lets the pop-up open.
void click(BrowserDriver& driver, const std::string& pageId, const std::string& buttonId) {
    websocket::Connection& c = driver.connection();
    const std::string session =
        c.call("Target.attachToTarget", {{"targetId", pageId}, {"flatten", true}}, 5s)["sessionId"];
    const websocket::Json box =
        c.call("Runtime.evaluate",
               {{"expression",
                 "(() => { const r = document.getElementById('" + buttonId +
                     "').getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()"},
                {"returnByValue", true}},
               5s, session)["result"]["value"];
    for (const char* type : {"mousePressed", "mouseReleased"})
        c.call("Input.dispatchMouseEvent",
               {{"type", type}, {"x", box[0]}, {"y", box[1]}, {"button", "left"}, {"clickCount", 1}}, 5s,
               session);
}

TEST(BrowserStartScript, DemoPopupsAreBlockedInTheBrowserTheScriptStarts) {
    const auto dataHome =
        std::filesystem::temp_directory_path() / ("tavro-start-script-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dataHome);
    EXPECT_NE(runScript("--running", dataHome.string()), 0) << "no browser runs yet";

    pid_t script = testing::spawnInGroup({Script, "--demo", "--headless", "--disable-gpu"},
                                         {"XDG_DATA_HOME=" + dataHome.string()});
    const std::string portFile = (dataHome / "tavro-popup-blocker/browser/DevToolsActivePort").string();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!std::filesystem::exists(portFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(std::filesystem::exists(portFile)) << "the script's browser wrote no port file";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(runScript("--running", dataHome.string()), 0);

    // The program's own default places, with the same data folder.
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    cdp::Timeouts timeouts;
    timeouts.search = 10s;
    cdp::CdpBrowserAutomation browser(cdp::defaultBrowserPlaces(), timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);

    BrowserDriver driver(portFile);
    ASSERT_TRUE(driver.waitFor([](const auto& pages) {
        return BrowserDriver::titled(pages, "Tavro Popup Blocker demo").size() == 1;
    }));
    const TestPage demo = BrowserDriver::titled(driver.pages(), "Tavro Popup Blocker demo").front();
    const std::string port =
        demo.url.substr(demo.url.rfind(':') + 1, demo.url.find('/', 8) - demo.url.rfind(':') - 1);

    click(driver, demo.id, "crosssite");
    click(driver, demo.id, "tab");
    ASSERT_TRUE(driver.waitFor(
        [](const auto& pages) { return BrowserDriver::titled(pages, "Special offer").size() == 2; }));
    Timer1_Timer(form);
    ASSERT_EQ(form.lstBlockedUrls.count(), 1);
    EXPECT_EQ(form.lstBlockedUrls.text(0), "ads.localhost:" + port);
    // The pop-up window goes; the tab opened by script stays.
    EXPECT_TRUE(driver.waitFor(
        [](const auto& pages) { return BrowserDriver::titled(pages, "Special offer").size() == 1; }, 5s));
    Timer1_Timer(form);
    EXPECT_EQ(BrowserDriver::titled(driver.pages(), "Special offer").size(), 1U);

    ::unsetenv("XDG_DATA_HOME");
    testing::killGroup(script);
    std::filesystem::remove_all(dataHome);
}

} // namespace
} // namespace tavro

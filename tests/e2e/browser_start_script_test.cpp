// The browser script a user starts, the demo pages it serves, and the program's
// default way of finding that browser: the script and the adapter must agree
// on the profile folder, and the demo's buttons must open pop-ups the scan
// closes.

#include "blocking/popup_scan.h"
#include "browsers/devtools/devtools_browser.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
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
    wire::WebSocket& c = driver.connection();
    const std::string session =
        c.call("Target.attachToTarget", {{"targetId", pageId}, {"flatten", true}}, 5s)["sessionId"];
    const wire::Json box =
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

    // A throw-away browser: quiet, and allowed to run as root.
    pid_t script = testing::spawnInGroup({Script, "--demo", "--headless", "--disable-gpu",
                                          "--disable-background-networking", "--disable-component-update"},
                                         {"XDG_DATA_HOME=" + dataHome.string(), "TAVRO_BROWSER_AS_ROOT=1"});
    const std::string portFile = (dataHome / "tavro-popup-blocker/browser/DevToolsActivePort").string();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!std::filesystem::exists(portFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(std::filesystem::exists(portFile)) << "the script's browser wrote no port file";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(runScript("--running", dataHome.string()), 0);

    // The program's own default places, with the same data folder.
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    devtools::Timeouts timeouts;
    timeouts.search = 10s;
    devtools::DevToolsBrowserAutomation browser(devtools::defaultBrowserPlaces(), timeouts);
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

// A stand-in browser that writes down its switches shows what the script
// would start. As root, the script starts nothing unless told that a browser
// without its sandbox is wanted; and the everyday browser keeps its
// background updates, which only a test browser goes without.
TEST(BrowserStartScript, RefusesRootUnlessAskedAndKeepsTestSwitchesOut) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavro-start-switches-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto fakeBrowser = folder / "browser";
    const auto switches = folder / "switches";
    std::ofstream(fakeBrowser) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << switches.string() << "'\n";
    std::filesystem::permissions(fakeBrowser, std::filesystem::perms::owner_all);
    const auto run = [&](const std::string& asRoot) {
        const std::string command = "env -u TAVRO_BROWSER_AS_ROOT " + asRoot + " TAVRO_CHROMIUM='" +
                                    fakeBrowser.string() + "' XDG_DATA_HOME='" + folder.string() + "' '" +
                                    Script + "' http://a.example/ 2>/dev/null";
        return std::system(command.c_str());
    };
    const bool root = ::geteuid() == 0;

    EXPECT_EQ(run("") == 0, !root);
    EXPECT_EQ(std::filesystem::exists(switches), !root);
    ASSERT_EQ(run("TAVRO_BROWSER_AS_ROOT=1"), 0);
    std::ifstream in(switches);
    const std::string started{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(started.find("--remote-debugging-port=0\n"), std::string::npos) << started;
    EXPECT_EQ(started.find("--no-sandbox\n") != std::string::npos, root) << started;
    for (const char* testOnly :
         {"--disable-background-networking", "--disable-component-update", "--headless"})
        EXPECT_EQ(started.find(testOnly), std::string::npos) << started;
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace tavro

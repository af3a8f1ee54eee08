// The places both browsers are looked for, and how a place that is no
// browser's is treated: passed over, rested, never waited on.

#include "blocking/popup_scan.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/scripted_endpoint.h"
#include "tests/support/silent_listener.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace tavro::browsers {
namespace {

using namespace std::chrono_literals;
using wire::Json;

TEST(ProfileFolder, NeitherBrowserIsLookedForRelativeToTheWorkingFolder) {
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string savedData = data != nullptr ? data : "";
    ::unsetenv("XDG_DATA_HOME");
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        if (value == nullptr)
            ::unsetenv("HOME");
        else
            ::setenv("HOME", value, 1);
        for (const std::string& folder : {devtools::browserProfileFolder(), bidi::firefoxProfileFolder()})
            EXPECT_TRUE(folder.empty() || folder.front() == '/') << folder;
        for (const std::string& file : devtools::defaultBrowserPlaces().portFiles)
            EXPECT_EQ(file.front(), '/') << file;
        for (const std::string& file : bidi::defaultFirefoxPlaces().serverFiles)
            EXPECT_EQ(file.front(), '/') << file;
    }
    ::setenv("HOME", home.c_str(), 1);
    if (data != nullptr)
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

// Rows as /proc/net/tcp and /proc/net/tcp6 print them on this machine: the

TEST(BrowserLink, ASilentListenerCostsTheTickNothing) {
    testing::SilentListener named;
    testing::SilentListener fixed;
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavro-silent-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string portFile = (folder / "DevToolsActivePort").string();
    std::ofstream(portFile) << named.port() << "\n/devtools/browser/silent\n";

    devtools::DevToolsBrowserAutomation automation(devtools::BrowserPlaces{{portFile}, {fixed.port()}});
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    for (int tick = 0; tick < 3; ++tick) {
        const auto started = Clock::now();
        Timer1_Timer(form);
        // Waiting on either listener would last the start bound, five seconds.
        EXPECT_LT(Clock::now() - started, 2s) << "tick " << tick << " waited on a peer";
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(form.BrowserWindows, nullptr);
    std::filesystem::remove_all(folder);
}

TEST(BrowserLink, APlaceThatAnswersAsNoBrowserRestsBeforeItIsAskedAgain) {
    testing::ScriptedEndpoint endpoint(
        [](const Json&, const testing::ScriptedEndpoint::Reply&) { return true; },
        R"({"Browser":"not quite"})");
    devtools::DevToolsBrowserAutomation automation(devtools::BrowserPlaces{{}, {endpoint.port()}});
    std::this_thread::sleep_for(1500ms);
    EXPECT_THROW(automation.createShellWindows(), Error);
    EXPECT_EQ(endpoint.connections(), 1) << "asked again before its rest was over";
}

} // namespace
} // namespace tavro::browsers

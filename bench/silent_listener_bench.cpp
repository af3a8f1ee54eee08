// How long one tick keeps the calling thread when no browser runs and the
// places a browser is looked for hold something that accepts a connection and
// never sends a byte: for Chromium, a port named by a DevToolsActivePort file
// and a fixed debugging port; for Firefox, a port named by a
// WebDriverBiDiServer.json file. Prints the longest and the median tick of each.
//
// usage: silent_listener_bench [--ticks N]   (default: 30 ticks, 600 ms apart)

#include "blocking/popup_scan.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/silent_listener.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tavro::testing::SilentListener;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void measure(const char* what, tavro::BrowserAutomation& browser, int ticks) {
    tavro::fakes::FakePlatform fake;
    tavro::Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                             fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    tavro::Quellit form(platform);

    std::vector<double> times;
    auto next = Clock::now();
    for (int i = 0; i < ticks; ++i) {
        const auto start = Clock::now();
        tavro::Timer1_Timer(form);
        times.push_back(ms(Clock::now() - start));
        next += 600ms;
        std::this_thread::sleep_until(next);
    }
    std::sort(times.begin(), times.end());
    std::printf("Tick on the calling thread, no browser, %s (%d ticks):\n", what, ticks);
    std::printf("  median %.2f ms, longest %.2f ms\n", times[times.size() / 2], times.back());
}

} // namespace

int main(int argc, char** argv) {
    int ticks = 30;
    if (argc == 3 && std::strcmp(argv[1], "--ticks") == 0)
        ticks = std::max(1, std::atoi(argv[2]));

    SilentListener named;
    SilentListener fixed;
    SilentListener firefoxPort;
    char folder[] = "/tmp/silent-listener-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string portFile = std::string(folder) + "/DevToolsActivePort";
    const std::string serverFile = std::string(folder) + "/WebDriverBiDiServer.json";
    std::ofstream(portFile) << named.port() << "\n/devtools/browser/silent\n";
    std::ofstream(serverFile) << R"({"ws_host": "127.0.0.1", "ws_port": )" << firefoxPort.port() << "}";

    {
        tavro::devtools::DevToolsBrowserAutomation chromium(
            tavro::devtools::BrowserPlaces{{portFile}, {fixed.port()}});
        measure("silent listeners on Chromium's port file's port and on a fixed port", chromium, ticks);
    }
    {
        tavro::bidi::BidiBrowserAutomation firefox(tavro::bidi::FirefoxPlaces{{serverFile}});
        measure("a silent listener on the port of Firefox's server file", firefox, ticks);
    }
    ::unlink(portFile.c_str());
    ::unlink(serverFile.c_str());
    ::rmdir(folder);
    return 0;
}

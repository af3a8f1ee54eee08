// Resident memory of the popup scan while the browser shows ten pages whose
// addresses are 2 MB long, Chromium's limit, beside a pop-up the scan must
// still close. The scan runs in a process of its own, so only its memory is
// counted: how long its adapter takes to mirror every page, the time of each
// tick, the peak (VmHWM) and what it keeps once the ticks are over (VmRSS).
// Then the real program, found beside this benchmark, runs on Qt's offscreen
// platform against the same browser, in a fresh folder with a fresh user,
// and its own peak and resident memory are printed the same way.
//
// usage: long_address_bench [--pages N]   (default: 10)

#include "blocking/popup_scan.h"
#include "browsers/devtools/devtools_browser.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using tavro::testing::BrowserDriver;

constexpr std::size_t LongestAddress = 2U * 1024U * 1024U;

// A field of /proc/PID/status in MiB.
double statusMiB(const char* field, const std::string& process = "self") {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::strtod(line.c_str() + std::strlen(field) + 1, nullptr) / 1024.0;
    }
    return 0;
}

// The child: the program's scan alone, five ticks 600 ms apart once its
// adapter mirrors every page the browser has.
int scanOnly(const std::string& portFile, std::size_t pages) {
    // As the program does at its start.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    const auto began = std::chrono::steady_clock::now();
    tavro::devtools::DevToolsBrowserAutomation browser(tavro::devtools::BrowserPlaces{{portFile}, {}});
    tavro::fakes::FakePlatform fake;
    tavro::Platform platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                             fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    tavro::Quellit form(platform);
    while (browser.mirror().snapshot().size() < pages && std::chrono::steady_clock::now() - began < 30s)
        std::this_thread::sleep_for(5ms);
    const auto mirrored = std::chrono::steady_clock::now() - began;
    std::printf(
        "  the adapter mirrors all %zu pages %lld ms after its start (resident %.1f MiB)\n",
        browser.mirror().snapshot().size(),
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(mirrored).count()),
        statusMiB("VmRSS:"));
    // One tone per pop-up closed: the count of them.
    form.chkBeep.setValue(tavro::CheckBox::Checked);
    const double before = statusMiB("VmRSS:");
    std::string times;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        tavro::Timer1_Timer(form);
        char tick[64];
        std::snprintf(
            tick, sizeof tick, " %.1f (%.0f MiB)",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
            statusMiB("VmHWM:"));
        times += tick;
        std::this_thread::sleep_for(600ms);
    }
    std::printf("  ticks of%s ms (peak resident so far)\n", times.c_str());
    std::printf("  resident before the ticks %.1f MiB, peak %.1f MiB, after them %.1f MiB; "
                "pop-ups closed: %zu\n",
                before, statusMiB("VmHWM:"), statusMiB("VmRSS:"), fake.tone.calls.size());
    return 0;
}

// The real program with its window, tray and timer, five seconds against the
// browser: it finds the browser through the port file in its own profile
// folder, as the user's program does.
void realProgram(const std::filesystem::path& program, const std::string& portFile) {
    namespace fs = std::filesystem;
    if (!fs::exists(program)) {
        std::printf("The real program: not measured, %s is not built\n", program.c_str());
        return;
    }
    const fs::path home = fs::temp_directory_path() / ("tavro-long-address-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "program");
    fs::create_directories(home / "data" / "tavro-popup-blocker" / "browser");
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    fs::copy_file(program, home / "program" / "tavro-popup-blocker");
    fs::copy_file(portFile, home / "data" / "tavro-popup-blocker" / "browser" / "DevToolsActivePort");

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const std::string copy = home / "program" / "tavro-popup-blocker";
        ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    const std::string process = std::to_string(pid);
    std::this_thread::sleep_for(1s);
    const double started = statusMiB("VmRSS:", process);
    std::this_thread::sleep_for(4s);
    std::printf("The real program: resident 1 s after its start %.1f MiB, peak over 5 s of ticks %.1f MiB, "
                "resident then %.1f MiB\n",
                started, statusMiB("VmHWM:", process), statusMiB("VmRSS:", process));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    fs::remove_all(home);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--scan-only") == 0)
        return scanOnly(argv[2], static_cast<std::size_t>(std::atol(argv[3])));
    int pages = 10;
    if (argc == 3 && std::strcmp(argv[1], "--pages") == 0)
        pages = std::max(1, std::atoi(argv[2]));

    tavro::testing::PageServer server;
    server.page("/tab.html", "<!doctype html><title>tab</title><p>a tab with a long address");
    server.page("/ad.html", "<!doctype html><title>ad</title>buy now");
    server.page("/opener.html", "<!doctype html><title>opener</title><script>"
                                "window.open('/ad.html', 'ad', 'width=300,height=200');</script>");
    tavro::testing::ChromiumProcess chromium;
    chromium.start();
    {
        BrowserDriver driver(chromium.portFile());
        driver.reset(server.url("home.localhost", "/tab.html"));
        // The fragment never reaches the server; the browser keeps it in the address.
        const std::string base = server.url("site.localhost", "/tab.html#");
        for (int i = 0; i < pages; ++i)
            driver.open(base + std::string(LongestAddress - base.size(), static_cast<char>('a' + i % 26)));
        driver.open(server.url("site.localhost", "/opener.html"));
        driver.waitFor([](const auto& all) { return BrowserDriver::titled(all, "ad").size() == 1; }, 30s);
        std::size_t longOnes = 0;
        for (const auto& page : driver.pages())
            longOnes += page.url.size() >= LongestAddress - 16 ? 1U : 0U;
        std::printf("The scan with %zu pages whose addresses are %zu bytes long, and one pop-up:\n", longOnes,
                    LongestAddress);
    }
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        // Every page: the long ones, the first tab, the opener and its pop-up.
        const std::string count = std::to_string(pages + 3);
        ::execl("/proc/self/exe", argv[0], "--scan-only", chromium.portFile().c_str(), count.c_str(),
                nullptr);
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;

    {
        BrowserDriver driver(chromium.portFile());
        driver.open(server.url("site.localhost", "/opener.html"));
        driver.waitFor([](const auto& all) { return BrowserDriver::titled(all, "ad").size() == 1; }, 30s);
    }
    realProgram(std::filesystem::canonical("/proc/self/exe").parent_path() / "tavro-popup-blocker",
                chromium.portFile());
    BrowserDriver driver(chromium.portFile());
    std::printf("  pop-ups left open after it: %zu\n", BrowserDriver::titled(driver.pages(), "ad").size());
    return 0;
}

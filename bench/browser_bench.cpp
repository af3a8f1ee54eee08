// The popup scan against a real Chromium, through the DevTools adapter:
//   1. the time of one tick on the calling thread with 10, 50 and 200 open tabs
//      and no pop-up;
//   2. the lifetime of pop-ups, from the browser creating them to their end,
//      with the timer's real 600 ms period;
//   3. the CPU time of this program and of the browser over a stretch of ticks
//      with 50 idle tabs, beside the browser's own CPU time without ticks;
//   4. the tick times and pop-up lifetimes of the same scan in Firefox.
//
// usage: browser_bench [--seconds N] [--popups N]   (defaults: 60 s, 60 pop-ups)

#include "bench/firefox_figures.h"
#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/cdp/cdp_browser.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tavro::testing::BrowserDriver;
using tavro::testing::ChromiumProcess;
using tavro::testing::PageServer;

constexpr auto TickPeriod = 600ms;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

using tavro::bench::summarise;
using tavro::bench::Summary;

// The first tick finds the browser, so every tick measured is a scan.
tavro::cdp::Timeouts patientSearch() {
    tavro::cdp::Timeouts timeouts;
    timeouts.search = 10s;
    return timeouts;
}

// The scan as the program runs it: the real adapter, fakes for the rest.
struct Scanner {
    explicit Scanner(const std::string& portFile)
        : browser(tavro::cdp::BrowserPlaces{{portFile}, {}}, patientSearch()),
          platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
                   fake.notifyArea, fake.helpViewer, fake.http, fake.files},
          form(platform) {}

    double tick() {
        const auto start = Clock::now();
        tavro::Timer1_Timer(form);
        return ms(Clock::now() - start);
    }

    tavro::cdp::CdpBrowserAutomation browser;
    tavro::fakes::FakePlatform fake;
    tavro::Platform platform;
    tavro::Quellit form;
};

void openTabs(BrowserDriver& driver, PageServer& server, std::size_t total) {
    std::size_t open = driver.pages().size();
    for (; open < total; ++open)
        driver.open(server.url("site" + std::to_string(open % 7) + ".localhost",
                               "/tab.html?" + std::to_string(open)));
    driver.waitFor([&](const auto& pages) { return BrowserDriver::titled(pages, "tab").size() + 1 >= total; },
                   120s);
}

void tickTimes(BrowserDriver& driver, PageServer& server, const std::string& portFile) {
    std::printf("Tick time on the calling thread, no pop-up (40 ticks after 5 to settle):\n");
    for (std::size_t tabs : {10U, 50U, 200U}) {
        openTabs(driver, server, tabs);
        Scanner scanner(portFile);
        for (int i = 0; i < 5; ++i)
            scanner.tick();
        std::vector<double> times;
        for (int i = 0; i < 40; ++i) {
            times.push_back(scanner.tick());
            std::this_thread::sleep_for(20ms);
        }
        const Summary s = summarise(times);
        std::printf("  %3zu tabs: median %.2f ms, 95th percentile %.2f ms, max %.2f ms\n", tabs, s.median,
                    s.p95, s.max);
        // The first tick that meets them asks every page what it shows.
        Scanner fresh(portFile);
        std::printf("            first tick over them: %.1f ms\n", fresh.tick());
    }
}

// Watches the browser's pages on a connection and thread of its own, so the
// times of their birth and end do not wait for the scan.
class PopupWatch {
public:
    explicit PopupWatch(const std::string& portFile) : m_driver(portFile) {
        m_driver.connection().onEvent = [this](const tavro::websocket::Json& event) { record(event); };
        m_driver.connection().call("Target.setDiscoverTargets", {{"discover", true}}, 5s);
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_driver.connection().poll();
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~PopupWatch() {
        m_stop = true;
        m_thread.join();
    }
    std::vector<double> lifetimes() {
        std::lock_guard lock(m_mutex);
        return m_lifetimes;
    }
    std::size_t born() {
        std::lock_guard lock(m_mutex);
        return m_bornCount;
    }

private:
    void record(const tavro::websocket::Json& event) {
        const auto now = Clock::now();
        const std::string method = event.value("method", "");
        const auto& params = event["params"];
        std::lock_guard lock(m_mutex);
        if (method == "Target.targetCreated") {
            const auto& info = params["targetInfo"];
            if (info.value("type", "") == "page" && info.contains("openerId")) {
                m_born[info.value("targetId", "")] = now;
                ++m_bornCount;
            }
        } else if (method == "Target.targetDestroyed") {
            const auto it = m_born.find(params.value("targetId", ""));
            if (it != m_born.end()) {
                m_lifetimes.push_back(ms(now - it->second));
                m_born.erase(it);
            }
        }
    }

    BrowserDriver m_driver;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_born;
    std::vector<double> m_lifetimes;
    std::size_t m_bornCount = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void popupLifetimes(BrowserDriver& driver, PageServer& server, const std::string& portFile, int popups) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    PopupWatch watch(portFile);
    Scanner scanner(portFile);
    // Pop-ups at odd moments against the timer's period, as pages open them.
    driver.open(server.url("site.localhost", "/opener.html?n=" + std::to_string(popups)));
    auto next = Clock::now();
    const auto giveUp = Clock::now() + std::chrono::milliseconds(popups * 400 + 10000);
    while (watch.lifetimes().size() < static_cast<std::size_t>(popups) && Clock::now() < giveUp) {
        scanner.tick();
        next += TickPeriod;
        std::this_thread::sleep_until(next);
    }
    const std::vector<double> lifetimes = watch.lifetimes();
    const Summary s = summarise(lifetimes);
    std::printf("Pop-up lifetime from its creation to its end, with a tick every 600 ms:\n");
    std::printf("  %zu pop-ups closed of %zu opened: median %.0f ms, 95th percentile %.0f ms, max %.0f ms\n",
                lifetimes.size(), watch.born(), s.median, s.p95, s.max);
}

// utime + stime of every process in the browser's process group, in seconds.
double browserCpuSeconds(pid_t group) {
    double ticks = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || ::getpgid(pid) != group)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long utime = 0;
        unsigned long stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stoul(field);
            if (i == 15)
                stime = std::stoul(field);
        }
        ticks += static_cast<double>(utime + stime);
    }
    ::closedir(proc);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void cpuUse(BrowserDriver& driver, PageServer& server, ChromiumProcess& chromium, int seconds) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    openTabs(driver, server, 50);
    std::this_thread::sleep_for(2s);
    const pid_t group = chromium.pid();

    const double idleBrowserStart = browserCpuSeconds(group);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double idleBrowser = browserCpuSeconds(group) - idleBrowserStart;

    Scanner scanner(chromium.portFile());
    scanner.tick();
    const double browserStart = browserCpuSeconds(group);
    const double ownStart = ownCpuSeconds();
    auto next = Clock::now();
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        scanner.tick();
        next += TickPeriod;
        std::this_thread::sleep_until(next);
    }
    const double own = ownCpuSeconds() - ownStart;
    const double browser = browserCpuSeconds(group) - browserStart;
    std::printf("CPU time over %d s with 50 idle tabs and a tick every 600 ms:\n", seconds);
    std::printf("  the scan: %.2f s (%.2f %% of one core)\n", own, 100.0 * own / seconds);
    std::printf("  the browser: %.2f s (%.2f %%), against %.2f s (%.2f %%) with no scan\n", browser,
                100.0 * browser / seconds, idleBrowser, 100.0 * idleBrowser / seconds);
}

constexpr const char* OpenerPage = R"(<!doctype html><title>opener</title><body><script>
const n = Number(new URLSearchParams(location.search).get('n'));
const ads = 'http://ads.localhost:' + location.port + '/ad.html';
let opened = 0;
function next() {
  if (opened >= n) return;
  window.open(ads + '?' + opened, 'p' + opened, 'width=300,height=200');
  ++opened;
  setTimeout(next, 170 + Math.random() * 260);
}
next();
</script>)";

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int popups = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--popups") == 0)
            popups = std::max(1, std::atoi(argv[i + 1]));
    }

    PageServer server;
    server.page("/tab.html", "<!doctype html><title>tab</title><p>an idle tab</p>");
    server.page("/ad.html", "<!doctype html><title>ad</title>buy now");
    server.page("/opener.html", OpenerPage);
    ChromiumProcess chromium;
    chromium.start();
    BrowserDriver driver(chromium.portFile());
    driver.reset(server.url("home.localhost", "/tab.html"));

    tickTimes(driver, server, chromium.portFile());
    popupLifetimes(driver, server, chromium.portFile(), popups);
    cpuUse(driver, server, chromium, seconds);
    tavro::bench::firefoxFigures(server, popups);
    return 0;
}

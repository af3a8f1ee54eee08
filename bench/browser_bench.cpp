// The popup scan against a real Chromium, through the DevTools adapter:
//   1. the time of one tick on the calling thread with 10, 50 and 200 open tabs
//      and no pop-up;
//   2. the lifetime of pop-ups, from the browser creating them to their end,
//      with the timer's real 600 ms period alone, with the scans the browser's
//      notices start as well, and with a minimal reference closer that closes
//      each page opened by script as soon as its address is known;
//   3. the scans a page that opens 1000 windows at once brings about;
//   4. the CPU time of this program and of the browser over a stretch of ticks
//      and notices with 50 idle tabs, beside the browser's own CPU time alone.
//   5. the tick times and pop-up lifetimes of the same scan in Firefox.
//
// usage: browser_bench [--seconds N] [--popups N] [--cpu-only | --firefox-only]
//        (defaults: 60 s, 60 pop-ups)

#include "bench/firefox_figures.h"
#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/cdp/cdp_browser.h"
#include "platform/qt/browser_news_watch.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <functional>
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

// The scan as the program schedules it: a tick every 600 ms on the event loop
// and, unless told otherwise, the scans the browser's notices start.
struct RunningScanner {
    RunningScanner(const std::string& portFile, bool announced) : scanner(portFile) {
        if (!announced)
            scanner.browser.announcements().mute();
        // One tone per pop-up closed: the count of them.
        scanner.form.chkBeep.setValue(tavro::CheckBox::Checked);
        scanner.tick();
        QObject::connect(&ticks, &QTimer::timeout, [this] { scanner.tick(); });
        ticks.start(static_cast<int>(TickPeriod.count()));
    }
    // Runs the event loop until done() holds or the time is up.
    // An event loop that sleeps between events, as the program's does.
    void runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done() || clock.elapsed() >= limit.count())
                loop.quit();
        });
        check.start(100);
        loop.exec();
    }

    Scanner scanner;
    QTimer ticks;
    // Told of every scan the notices start.
    std::function<void()> announcedScan = [] {};
    tavro::qt::BrowserNewsWatch watch{scanner.browser.news(), [] { return true; },
                                      [this] {
                                          announcedScan();
                                          scanner.tick();
                                      }};
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
        const Summary s = tavro::bench::timeTicks([&] { return scanner.tick(); });
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

// Closes every page opened by script as soon as the browser names its address,
// on a connection and thread of its own: the floor for any program outside the
// browser.
class ReferenceCloser {
public:
    explicit ReferenceCloser(const std::string& portFile) : m_driver(portFile) {
        auto& c = m_driver.connection();
        c.onEvent = [&c](const tavro::websocket::Json& event) {
            const std::string method = event.value("method", "");
            if (method != "Target.targetCreated" && method != "Target.targetInfoChanged")
                return;
            const auto& info = event["params"]["targetInfo"];
            const std::string url = info.value("url", "");
            if (info.value("type", "") == "page" && info.contains("openerId") &&
                url.find("://") != std::string::npos)
                c.post("Target.closeTarget", {{"targetId", info.value("targetId", "")}});
        };
        c.call("Target.setDiscoverTargets", {{"discover", true}}, 5s);
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_driver.connection().poll();
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~ReferenceCloser() {
        m_stop = true;
        m_thread.join();
    }

private:
    BrowserDriver m_driver;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

enum class Closer { Ticks, Announced, Reference };

Summary popupLifetimes(BrowserDriver& driver, PageServer& server, const std::string& portFile, int popups,
                       Closer closer) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    PopupWatch watch(portFile);
    std::unique_ptr<RunningScanner> scanner;
    std::unique_ptr<ReferenceCloser> reference;
    if (closer == Closer::Reference)
        reference = std::make_unique<ReferenceCloser>(portFile);
    else
        scanner = std::make_unique<RunningScanner>(portFile, closer == Closer::Announced);
    // Pop-ups at odd moments against the timer's period, as pages open them.
    driver.open(server.url("site.localhost", "/opener.html?n=" + std::to_string(popups)));
    const auto done = [&] { return watch.lifetimes().size() >= static_cast<std::size_t>(popups); };
    const auto limit = std::chrono::milliseconds(popups * 400 + 10000);
    if (scanner)
        scanner->runUntil(done, limit);
    else
        for (const auto end = Clock::now() + limit; !done() && Clock::now() < end;)
            std::this_thread::sleep_for(10ms);
    const std::vector<double> lifetimes = watch.lifetimes();
    const Summary s = summarise(lifetimes);
    const char* names[] = {"ticks only", "ticks and notices", "reference closer"};
    std::printf(
        "  %-18s %3zu closed of %3zu opened: median %4.0f ms, 95th percentile %4.0f ms, max %4.0f ms\n",
        names[static_cast<int>(closer)], lifetimes.size(), watch.born(), s.median, s.p95, s.max);
    return s;
}

void compareLifetimes(BrowserDriver& driver, PageServer& server, const std::string& portFile, int popups) {
    std::printf("Pop-up lifetime from its creation to its end:\n");
    popupLifetimes(driver, server, portFile, popups, Closer::Ticks);
    const Summary ours = popupLifetimes(driver, server, portFile, popups, Closer::Announced);
    const Summary floor = popupLifetimes(driver, server, portFile, popups, Closer::Reference);
    std::printf("  ticks and notices against the reference: median %.2fx, max %.2fx\n",
                ours.median / floor.median, ours.max / floor.max);
}

// A page that opens a thousand windows at once: the scans per second that
// follow, the timer's ticks among them.
void flood(BrowserDriver& driver, PageServer& server, const std::string& portFile) {
    driver.reset(server.url("home.localhost", "/tab.html"));
    RunningScanner scanner(portFile, true);
    std::vector<Clock::time_point> scans;
    const auto start = Clock::now();
    scanner.announcedScan = [&] { scans.push_back(Clock::now()); };
    driver.open(server.url("site.localhost", "/flood.html"));
    scanner.runUntil([] { return false; }, 10s);
    std::vector<int> perSecond(11, 0);
    for (const auto& at : scans)
        ++perSecond[std::min<std::size_t>(10, static_cast<std::size_t>((at - start) / 1s))];
    std::printf(
        "A page opening 1000 windows at once: %zu scans for notices in 10 s, at most %d in one second "
        "(ticks come besides, %.1f a second); %zu pop-ups closed\n",
        scans.size(), *std::max_element(perSecond.begin(), perSecond.end()),
        1000.0 / static_cast<double>(TickPeriod.count()), scanner.scanner.fake.tone.calls.size());
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

    RunningScanner scanner(chromium.portFile(), true);
    const double browserStart = browserCpuSeconds(group);
    const double ownStart = ownCpuSeconds();
    scanner.runUntil([] { return false; }, std::chrono::seconds(seconds));
    const double own = ownCpuSeconds() - ownStart;
    const double browser = browserCpuSeconds(group) - browserStart;
    std::printf("CPU time over %d s with 50 idle tabs, a tick every 600 ms and the browser's notices:\n",
                seconds);
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

constexpr const char* FloodPage = R"(<!doctype html><title>flood</title><body><script>
const ads = 'http://ads.localhost:' + location.port + '/ad.html';
for (let i = 0; i < 1000; ++i) window.open(ads + '?' + i, 'f' + i, 'width=100,height=100');
</script>)";

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int popups = 60;
    const bool cpuOnly = argc > 1 && std::strcmp(argv[argc - 1], "--cpu-only") == 0;
    const bool firefoxOnly = argc > 1 && std::strcmp(argv[argc - 1], "--firefox-only") == 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--popups") == 0)
            popups = std::max(1, std::atoi(argv[i + 1]));
    }

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    PageServer server;
    server.page("/flood.html", FloodPage);
    server.page("/tab.html", "<!doctype html><title>tab</title><p>an idle tab</p>");
    server.page("/ad.html", "<!doctype html><title>ad</title>buy now");
    server.page("/opener.html", OpenerPage);
    if (firefoxOnly) {
        tavro::bench::firefoxFigures(server, popups);
        return 0;
    }
    ChromiumProcess chromium;
    chromium.start();
    BrowserDriver driver(chromium.portFile());
    driver.reset(server.url("home.localhost", "/tab.html"));

    if (!cpuOnly) {
        tickTimes(driver, server, chromium.portFile());
        compareLifetimes(driver, server, chromium.portFile(), popups);
        flood(driver, server, chromium.portFile());
    }
    cpuUse(driver, server, chromium, seconds);
    tavro::bench::firefoxFigures(server, popups);
    return 0;
}

#include "bench/bench_support.h"

#include "blocking/popup_scan.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace tavro::bench {

using namespace std::chrono_literals;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

Summary summarise(std::vector<double> values) {
    Summary s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.p95 = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    s.max = values.back();
    return s;
}

Summary timeTicks(const std::function<double()>& tick) {
    for (int i = 0; i < 5; ++i)
        tick();
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
        times.push_back(tick());
        std::this_thread::sleep_for(20ms);
    }
    return summarise(times);
}

ScanForm::ScanForm(BrowserAutomation& browser)
    : platform{fake.toolkit,    browser,         fake.keys, fake.tone, fake.settings,
               fake.notifyArea, fake.helpViewer, fake.http, fake.files},
      form(platform) {
    form.chkBeep.setValue(CheckBox::Checked);
}

double ScanForm::tick() {
    const auto start = Clock::now();
    Timer1_Timer(form);
    return ms(Clock::now() - start);
}

RunningScan::RunningScan(ScanForm& scan, BrowserAutomation& browser, bool news) : m_scan(scan) {
    if (news)
        m_watch = std::make_unique<qt::BrowserNewsWatch>(
            browser.news(), [] { return true; }, [this] { m_scan.tick(); });
    m_scan.tick();
    QObject::connect(&m_ticks, &QTimer::timeout, [this] { m_scan.tick(); });
    m_ticks.start(static_cast<int>(TickPeriod.count()));
}

// An event loop that sleeps between events, as the program's does.
void RunningScan::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() >= limit.count())
            loop.quit();
    });
    check.start(50);
    loop.exec();
}

void RunningScan::runFor(std::chrono::milliseconds limit) {
    QEventLoop loop;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double groupCpuSeconds(pid_t group) {
    double ticks = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || ::getpgid(pid) != group)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
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

void waitQuiet(pid_t group, double percent, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        const double start = groupCpuSeconds(group);
        std::this_thread::sleep_for(2s);
        if (100.0 * (groupCpuSeconds(group) - start) / 2.0 < percent)
            return;
    }
}

void printCpuRounds(const char* browser, pid_t group, int seconds, int rounds, const ProgramRound& round) {
    const auto each = std::chrono::milliseconds(std::max(1000, seconds * 1000 / rounds));
    const double eachSeconds = static_cast<double>(each.count()) / 1000.0;
    double ownWith = 0;
    double ownWithout = 0;
    double browserWith = 0;
    double browserWithout = 0;
    const auto percent = [&](double used) { return 100.0 * used / eachSeconds; };
    for (int i = 0; i < rounds; ++i) {
        double own[2] = {};
        double used[2] = {};
        const auto without = [&] {
            const double browserStart = groupCpuSeconds(group);
            const double ownStart = processCpuSeconds();
            std::this_thread::sleep_for(each);
            own[0] = processCpuSeconds() - ownStart;
            used[0] = groupCpuSeconds(group) - browserStart;
        };
        const auto with = [&] {
            round([&](RunningScan& running) {
                const double browserStart = groupCpuSeconds(group);
                const double ownStart = processCpuSeconds();
                running.runFor(each);
                own[1] = processCpuSeconds() - ownStart;
                used[1] = groupCpuSeconds(group) - browserStart;
            });
        };
        if (i % 2 == 0) {
            without();
            with();
        } else {
            with();
            without();
        }
        // The connection's end is over before the next round.
        std::this_thread::sleep_for(3s);
        std::printf("  round %d: %s %.2f %% with the program, %.2f %% without; this process %.3f %% with it,"
                    " %.3f %% without\n",
                    i + 1, browser, percent(used[1]), percent(used[0]), percent(own[1]), percent(own[0]));
        ownWith += own[1];
        ownWithout += own[0];
        browserWith += used[1];
        browserWithout += used[0];
    }
    const double total = eachSeconds * rounds;
    const auto share = [&](double used) { return 100.0 * used / total; };
    std::printf(
        "  over %.0f s each: %s %.2f %% with the program against %.2f %% without: %+.2f %% of one core;\n"
        "  this process %.3f %% with the program against %.3f %% without (the benchmark's own):"
        " the scan and the adapter's thread %.3f %% of one core\n",
        total, browser, share(browserWith), share(browserWithout), share(browserWith - browserWithout),
        share(ownWith), share(ownWithout), share(ownWith - ownWithout));
}

double statusMiB(const char* field, const std::string& process) {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::strtod(line.c_str() + std::strlen(field), nullptr) / 1024.0;
    }
    return 0;
}

} // namespace tavro::bench

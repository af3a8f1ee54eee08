#pragma once

#include "form/quellit.h"
#include "platform/browser.h"
#include "platform/qt/browser_news_watch.h"
#include "tests/fakes/fake_platform.h"

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// What the benchmarks that drive the popup scan share: its form over a real
// adapter, the program's schedule of ticks and news, and the figures.
namespace tavro::bench {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d);

struct Summary {
    double median = 0;
    double p95 = 0;
    double max = 0;
    std::size_t count = 0;
};

Summary summarise(std::vector<double> values);

// Five ticks to settle, then forty timed 20 ms apart; tick returns its time.
Summary timeTicks(const std::function<double()>& tick);

// The program's tick period.
inline constexpr std::chrono::milliseconds TickPeriod{600};

// The popup scan's form over one browser automation, with fakes for the
// window, the keys and the tone; one tone for each pop-up closed.
struct ScanForm {
    explicit ScanForm(BrowserAutomation& browser);
    // Runs Timer1_Timer and returns how long it kept the calling thread, in ms.
    double tick();
    std::size_t closed() const { return fake.tone.calls.size(); }

    fakes::FakePlatform fake;
    Platform platform;
    Quellit form;
};

// The scan as the program schedules it on its event loop: a tick every
// 600 ms and, where asked, the scans the browsers' news starts through the
// program's own watch.
class RunningScan {
public:
    RunningScan(ScanForm& scan, BrowserAutomation& browser, bool news);
    // Runs the event loop until done() holds or the time is up.
    void runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Runs the event loop for this long, with no timer of the benchmark's own.
    void runFor(std::chrono::milliseconds limit);
    int newsScans() const { return m_watch ? m_watch->scans() : 0; }

private:
    ScanForm& m_scan;
    QTimer m_ticks;
    std::unique_ptr<qt::BrowserNewsWatch> m_watch;
};

// CPU time, in seconds: of this whole process, and of every process in a
// process group (a browser and its children).
double processCpuSeconds();
double groupCpuSeconds(pid_t group);
// Waits until the group has used less than percent of a core over two
// seconds (a browser done loading its tabs), or the limit is up.
void waitQuiet(pid_t group, double percent, std::chrono::seconds limit);

// The rounds of a browser with the program and without it, one after the
// other in alternating order so that a drift of the machine's load weighs on
// both alike. round sets the program up against the browser and hands its
// running loop to measured, which counts the CPU time over each round.
using ProgramRound = std::function<void(const std::function<void(RunningScan&)>& measured)>;
void printCpuRounds(const char* browser, pid_t group, int seconds, int rounds, const ProgramRound& round);

// A field of /proc/PID/status ("VmRSS:", "VmHWM:") in MiB.
double statusMiB(const char* field, const std::string& process = "self");

} // namespace tavro::bench

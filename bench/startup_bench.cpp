// Times the real program on the X display of the environment: from the start
// of its process to its window on screen, then its resident memory and its CPU
// use once idle. Each run uses a copy of the program in a fresh folder with a
// fresh user, so nothing of the user's own settings or lists is touched.
//
// usage: startup_bench [runs] [idle-seconds]    (under X, e.g. xvfb-run -a startup_bench)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* Caption = "Tavro Popup Blocker Version 2.7";

fs::path programBeside() {
    return fs::canonical("/proc/self/exe").parent_path() / "tavro-popup-blocker";
}

std::string windowName(Display* display, Window window) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || !name)
        return {};
    std::string text(name);
    XFree(name);
    return text;
}

// Waits for a top-level window with the program's caption to be mapped.
std::optional<Clock::time_point> waitForWindow(Display* display, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && windowName(display, event.xmap.window) == Caption)
                return Clock::now();
            // The name may be set after the map of an earlier window of ours.
            if (event.type == PropertyNotify && windowName(display, event.xproperty.window) == Caption)
                return Clock::now();
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval tick{0, 5000};
        select(fd + 1, &readable, nullptr, nullptr, &tick);
    }
    return std::nullopt;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// User plus system time of the process, in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

struct Run {
    double startMs = -1;
    long rssKiB = -1;
    double idleCpuPercent = -1;
};

Run runOnce(Display* display, const fs::path& program, int idleSeconds) {
    const fs::path home = fs::temp_directory_path() / ("tavro-bench-" + std::to_string(getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "program");
    fs::create_directories(home / "config");
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    const fs::path copy = home / "program" / "tavro-popup-blocker";
    fs::copy_file(program, copy);

    Run run;
    const auto started = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
        execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (const auto shown = waitForWindow(display, std::chrono::seconds(30)))
        run.startMs = std::chrono::duration<double, std::milli>(*shown - started).count();

    std::this_thread::sleep_for(std::chrono::seconds(2));
    run.rssKiB = residentKiB(pid);
    const long before = cpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const long used = cpuTicks(pid) - before;
    run.idleCpuPercent = 100.0 * static_cast<double>(used) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
                         static_cast<double>(idleSeconds);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    fs::remove_all(home);
    return run;
}

} // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const fs::path program = programBeside();
    if (!fs::exists(program)) {
        std::fprintf(stderr, "no program at %s\n", program.c_str());
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display; run it under xvfb-run -a\n");
        return 2;
    }
    XSelectInput(display, XDefaultRootWindow(display), SubstructureNotifyMask);
    XFlush(display);

    std::vector<double> starts;
    std::printf("run  start-to-window(ms)  rss-idle(MiB)  cpu-idle(%%)\n");
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(display, program, idleSeconds);
        std::printf("%3d  %19.1f  %13.1f  %11.2f\n", i + 1, run.startMs,
                    static_cast<double>(run.rssKiB) / 1024.0, run.idleCpuPercent);
        std::fflush(stdout);
        if (run.startMs >= 0)
            starts.push_back(run.startMs);
    }
    if (!starts.empty()) {
        std::ranges::sort(starts);
        std::printf("median start-to-window: %.1f ms (target under 300 ms)\n", starts[starts.size() / 2]);
    }
    XCloseDisplay(display);
    return 0;
}

// The longest stall of the event loop that runs the popup scan, as the
// program's window runs it: the real Chromium and Firefox adapters as one set
// of browsers, the real watch of their news and Timer1_Timer every 600 ms on a
// Qt event loop, and a 1 ms timer whose lateness is recorded. Measured with no
// browser at all (the reference), then with Chromium's place holding:
//   - a peer that passes the DevTools handshake and answers every call with
//     JSON nested too deep;
//   - a peer that sends a 100 MB frame;
//   - a peer that floods the program with Target.targetCreated events at
//     socket speed, with this process's peak memory during the flood and its
//     memory 10 s after the peer went;
//   - a peer that announces one page fewer than the most a mirror keeps, at
//     once, then answers nothing: every tick walks them until the program
//     finds the peer silent and lets it go;
//   - a real headless Chromium stopped with SIGSTOP, then continued.
// The peers run in a process of their own, so that only the program's side
// counts in this process's memory, and count the connections they were given.
//
// usage: stall_bench [--seconds N] [--case reference|deep|huge|flood|many|stopped]
//        (default: 20 s for each case, every case)

#include "bench/bench_support.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/mirror/browser_set.h"
#include "tests/support/browser_driver.h"
#include "tests/support/chromium_process.h"
#include "tests/support/page_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tavro::bench::Clock;
using tavro::bench::ms;

// ---- the peers, each in a process of its own ----

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

constexpr std::size_t HugeFrameBytes = 100U * 1024U * 1024U;
constexpr int TooDeep = 1'000'000;

void report(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// A server's frame header: a final text frame of this length, unmasked.
std::string frameHeader(std::size_t length) {
    std::string header(1, '\x81');
    if (length < 126) {
        header += static_cast<char>(length);
    } else if (length < 65536) {
        header += static_cast<char>(126);
        header += static_cast<char>((length >> 8) & 0xFF);
        header += static_cast<char>(length & 0xFF);
    } else {
        header += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            header += static_cast<char>((length >> shift) & 0xFF);
    }
    return header;
}

// Answers every call with a message nested far deeper than any protocol's;
// returns the answers sent before the program let go.
long answerTooDeep(beast::websocket::stream<tcp::socket>& ws) {
    const std::string deep =
        R"({"id":1,"result":)" + std::string(TooDeep, '[') + std::string(TooDeep, ']') + "}";
    long sent = 0;
    try {
        for (;;) {
            beast::flat_buffer request;
            ws.read(request);
            ws.text(true);
            ws.write(net::buffer(deep));
            ++sent;
        }
    } catch (const std::exception&) {
    }
    return sent;
}

// Announces a 100 MB message and sends it; returns the megabytes sent before
// the program let go.
long sendHugeFrame(int fd) {
    const std::string header = frameHeader(HugeFrameBytes);
    if (!sendAll(fd, header.data(), header.size()))
        return 0;
    const std::string chunk(1024U * 1024U, ' ');
    long sent = 0;
    for (std::size_t left = HugeFrameBytes; left > 0; left -= chunk.size(), ++sent) {
        if (!sendAll(fd, chunk.data(), std::min(left, chunk.size())))
            return sent;
    }
    // All of it went: wait for the program to let go, if it ever does.
    char discard[4096];
    while (::recv(fd, discard, sizeof discard, 0) > 0) {
    }
    return sent;
}

// Announces new pages as fast as the socket takes them, up to limit, reading
// and dropping the program's questions about them and answering none;
// returns the pages announced before the program let go.
long floodWithPages(int fd, long limit) {
    std::thread reader([fd] {
        char discard[65536];
        while (::recv(fd, discard, sizeof discard, 0) > 0) {
        }
    });
    long announced = 0;
    std::string batch;
    for (bool open = true; open && announced < limit;) {
        batch.clear();
        for (int i = 0; i < 512 && announced < limit; ++i, ++announced) {
            const std::string id = std::to_string(announced);
            const std::string event =
                R"({"method":"Target.targetCreated","params":{"targetInfo":{"targetId":"F)" + id +
                R"(","type":"page","title":"","url":"http://flood.example/)" + id +
                R"(","attached":false,"canAccessOpener":false}}})";
            batch += frameHeader(event.size());
            batch += event;
        }
        open = sendAll(fd, batch.data(), batch.size());
    }
    // Unless all of them went, and the reader waits for the program to let go.
    if (announced < limit)
        ::shutdown(fd, SHUT_RDWR);
    reader.join();
    return announced;
}

// Serves the listening socket at fd 3 until killed, and tells of each
// connection on standard output: "accepted", then "dropped N".
int runPeer(const std::string& kind) {
    std::signal(SIGPIPE, SIG_IGN);
    net::io_context io;
    tcp::acceptor acceptor(io);
    acceptor.assign(tcp::v4(), 3);
    for (;;) {
        tcp::socket socket(io);
        boost::system::error_code ec;
        acceptor.accept(socket, ec);
        if (ec)
            return 1;
        beast::websocket::stream<tcp::socket> ws(std::move(socket));
        try {
            ws.accept();
        } catch (const std::exception&) {
            continue;
        }
        report("accepted");
        const int fd = ws.next_layer().native_handle();
        long sent = 0;
        if (kind == "deep")
            sent = answerTooDeep(ws);
        else if (kind == "huge")
            sent = sendHugeFrame(fd);
        else if (kind == "many")
            sent = floodWithPages(fd, static_cast<long>(tavro::browsers::PageMirror::MaxPages) - 1);
        else
            sent = floodWithPages(fd, std::numeric_limits<long>::max());
        report("dropped " + std::to_string(sent));
    }
}

// The peer's process, its listening socket, and what it has told.
class Peer {
public:
    Peer(const std::string& kind, const std::string& portFile) {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener, 16) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(listener, 3);
            ::dup2(pipe[1], STDOUT_FILENO);
            ::execl("/proc/self/exe", "stall_bench", "--peer", kind.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        ::close(listener);
        ::close(pipe[1]);
        m_reports = pipe[0];
        ::fcntl(m_reports, F_SETFL, O_NONBLOCK);
        std::ofstream(portFile) << ntohs(address.sin_port) << "\n/devtools/browser/peer\n";
    }
    ~Peer() {
        stop();
        ::close(m_reports);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Gone for good: the place refuses connections from now on.
    void stop() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        read();
    }
    // Takes in what the peer has told so far.
    void read() {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(m_reports, buffer, sizeof buffer)) > 0)
            m_text.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end = 0; (end = m_text.find('\n')) != std::string::npos; m_text.erase(0, end + 1)) {
            const std::string line = m_text.substr(0, end);
            if (line == "accepted") {
                ++m_accepted;
            } else if (line.rfind("dropped ", 0) == 0) {
                m_sent.push_back(std::atol(line.c_str() + 8));
                if (!m_firstDrop)
                    m_firstDrop = Clock::now();
            }
        }
    }
    int accepted() const { return m_accepted; }
    // What each connection the program let go had been sent.
    const std::vector<long>& sent() const { return m_sent; }
    std::optional<Clock::time_point> firstDrop() const { return m_firstDrop; }

private:
    pid_t m_pid = -1;
    int m_reports = -1;
    std::string m_text;
    int m_accepted = 0;
    std::vector<long> m_sent;
    std::optional<Clock::time_point> m_firstDrop;
};

// ---- the window's event loop ----

struct Stalls {
    double longest = 0;
    // The longest once the time the thread spent waiting for a free core is
    // taken out: what the loop itself did or waited for.
    double longestOwn = 0;
    double p999 = 0;
    int over16 = 0;
    std::size_t beats = 0;
    double longestTick = 0;
    int ticks = 0;
};

// The program's loop with both real adapters, Chromium's looking at the
// places given and Firefox's at a server file no Firefox writes.
class Window {
public:
    Window(const std::string& portFile, const std::string& absentServerFile)
        : m_chromium(tavro::devtools::BrowserPlaces{{portFile}, {}}),
          m_firefox(tavro::bidi::FirefoxPlaces{{absentServerFile}}), m_set({&m_chromium, &m_firefox}),
          m_scan(m_set), m_watch(
                             m_set.news(), [] { return true; }, [this] { tick(); }) {
        QObject::connect(&m_ticks, &QTimer::timeout, [this] { tick(); });
        m_ticks.start(static_cast<int>(tavro::bench::TickPeriod.count()));
        m_beat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_beat, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const double waited = waitedForCore();
            const double late = std::max(0.0, ms(now - m_lastBeat) - 1.0);
            m_late.push_back(late);
            m_lateOwn.push_back(std::max(0.0, late - (waited - m_lastWaited)));
            m_lastWaited = waited;
            m_lastBeat = now;
        });
    }
    ~Window() { ::close(m_schedstat); }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Runs the loop for this long, calling every() every 50 ms; what it met.
    Stalls run(std::chrono::milliseconds limit, const std::function<void()>& every = {}) {
        m_late.clear();
        m_lateOwn.clear();
        m_longestTick = 0;
        m_tickCount = 0;
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (every)
                every();
            if (clock.elapsed() >= limit.count())
                loop.quit();
        });
        check.start(50);
        m_lastBeat = Clock::now();
        m_lastWaited = waitedForCore();
        m_beat.start(1);
        loop.exec();
        m_beat.stop();
        Stalls s;
        const tavro::bench::Summary late = tavro::bench::summarise(m_late);
        s.longest = late.max;
        s.longestOwn = tavro::bench::summarise(m_lateOwn).max;
        s.beats = late.count;
        std::vector<double> sorted = m_late;
        std::sort(sorted.begin(), sorted.end());
        if (!sorted.empty())
            s.p999 = sorted[std::min(sorted.size() - 1, sorted.size() * 999 / 1000)];
        s.over16 =
            static_cast<int>(std::count_if(m_late.begin(), m_late.end(), [](double l) { return l > 16; }));
        s.longestTick = m_longestTick;
        s.ticks = m_tickCount;
        return s;
    }

    tavro::browsers::PageMirror& chromiumMirror() { return m_chromium.mirror(); }

private:
    // How long this thread has waited in the run queue for a core, in ms.
    double waitedForCore() const {
        char text[128] = {};
        if (m_schedstat < 0 || ::pread(m_schedstat, text, sizeof text - 1, 0) <= 0)
            return 0;
        unsigned long long running = 0;
        unsigned long long waiting = 0;
        if (std::sscanf(text, "%llu %llu", &running, &waiting) != 2)
            return 0;
        return static_cast<double>(waiting) / 1e6;
    }

    void tick() {
        m_longestTick = std::max(m_longestTick, m_scan.tick());
        ++m_tickCount;
    }

    tavro::devtools::DevToolsBrowserAutomation m_chromium;
    tavro::bidi::BidiBrowserAutomation m_firefox;
    tavro::browsers::BrowserSet m_set;
    tavro::bench::ScanForm m_scan;
    tavro::qt::BrowserNewsWatch m_watch;
    QTimer m_ticks;
    QTimer m_beat;
    Clock::time_point m_lastBeat;
    std::vector<double> m_late;
    std::vector<double> m_lateOwn;
    double m_lastWaited = 0;
    // The loop's thread's scheduling figures: its time on a core and in the
    // run queue.
    int m_schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    double m_longestTick = 0;
    int m_tickCount = 0;
};

void printStalls(const char* what, const Stalls& s) {
    std::printf("  %-38s longest stall %6.2f ms (%6.2f ms without waits for a core), 99.9th %5.2f ms,"
                " %d over 16 ms of %zu; longest tick %.3f ms of %d\n",
                what, s.longest, s.longestOwn, s.p999, s.over16, s.beats, s.longestTick, s.ticks);
}

void printDrops(const Peer& peer, const char* unit) {
    const auto& sent = peer.sent();
    std::printf("  %-38s %d connections, %zu let go by the program", "", peer.accepted(), sent.size());
    if (!sent.empty())
        std::printf(" (after %ld to %ld %s sent)", *std::min_element(sent.begin(), sent.end()),
                    *std::max_element(sent.begin(), sent.end()), unit);
    std::printf("\n");
}

struct Folder {
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-stall-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a folder");
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

void hostilePeer(const char* kind, const char* what, const char* unit, const Folder& folder,
                 std::chrono::seconds seconds) {
    const std::string portFile = folder.path + "/" + kind + "/DevToolsActivePort";
    std::filesystem::create_directories(folder.path + "/" + kind);
    Peer peer(kind, portFile);
    Window window(portFile, folder.path + "/WebDriverBiDiServer.json");
    printStalls(what, window.run(seconds, [&] { peer.read(); }));
    peer.stop();
    printDrops(peer, unit);
}

// The flood, with this process's memory: its peak while the peer floods,
// and what it holds 10 s after the peer is gone.
void flood(const Folder& folder, std::chrono::seconds seconds) {
    const std::string portFile = folder.path + "/flood/DevToolsActivePort";
    std::filesystem::create_directories(folder.path + "/flood");
    Window window(portFile, folder.path + "/WebDriverBiDiServer.json");
    window.run(2s);
    const double before = tavro::bench::statusMiB("VmRSS:");
    // The peak from here on.
    std::ofstream("/proc/self/clear_refs") << "5";
    Peer peer("flood", portFile);
    const auto start = Clock::now();
    printStalls("a flood of Target.targetCreated", window.run(seconds, [&] { peer.read(); }));
    const double peak = tavro::bench::statusMiB("VmHWM:");
    peer.stop();
    printDrops(peer, "pages");
    const Stalls after = window.run(10s);
    std::printf("  %-38s first let go %.2f s into the flood; memory %.1f MiB before, peak %.1f MiB during,"
                " %.1f MiB 10 s after the peer went (longest stall then %.2f ms)\n",
                "", peer.firstDrop() ? ms(*peer.firstDrop() - start) / 1000.0 : -1.0, before, peak,
                tavro::bench::statusMiB("VmRSS:"), after.longest);
}

// A real Chromium, connected and serving ten tabs, stopped with SIGSTOP,
// then continued.
void stoppedChromium(const Folder& folder, std::chrono::seconds seconds) {
    tavro::testing::PageServer server;
    server.page("/tab.html", "<!doctype html><title>tab</title><p>an idle tab</p>");
    tavro::testing::ChromiumProcess chromium;
    chromium.start();
    {
        tavro::testing::BrowserDriver driver(chromium.portFile());
        driver.reset(server.url("home.localhost", "/tab.html"));
        for (int i = 1; i < 10; ++i)
            driver.open(server.url("site.localhost", "/tab.html?" + std::to_string(i)));
    }
    Window window(chromium.portFile(), folder.path + "/WebDriverBiDiServer.json");
    printStalls("Chromium serving 10 tabs", window.run(3s));
    const bool connected = window.chromiumMirror().connected();
    ::kill(-chromium.pid(), SIGSTOP);
    const auto stopped = Clock::now();
    std::optional<double> letGo;
    printStalls("Chromium stopped with SIGSTOP", window.run(seconds, [&] {
        if (!letGo && !window.chromiumMirror().connected())
            letGo = ms(Clock::now() - stopped) / 1000.0;
    }));
    ::kill(-chromium.pid(), SIGCONT);
    const auto continued = Clock::now();
    std::optional<double> back;
    printStalls("Chromium continued with SIGCONT", window.run(seconds, [&] {
        if (!back && window.chromiumMirror().connected())
            back = ms(Clock::now() - continued) / 1000.0;
    }));
    const auto after = [](const std::optional<double>& taken, const char* what) {
        char text[64] = "not within the run";
        if (taken)
            std::snprintf(text, sizeof text, "%.1f s after the %s", *taken, what);
        return std::string(text);
    };
    std::printf("  %-38s connected before the stop: %s; let go %s; connected again %s\n", "",
                connected ? "yes" : "no", after(letGo, "stop").c_str(), after(back, "continue").c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer") == 0)
        return runPeer(argv[2]);
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int seconds = 20;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--case") == 0)
            only = argv[i + 1];
    }
    const auto wanted = [&](const char* name) { return only.empty() || only == name; };
    const auto each = std::chrono::seconds(seconds);

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    Folder folder;
    std::printf(
        "Longest stall of the event loop (a 1 ms timer's lateness) with both real adapters, their news\n"
        "and a tick every 600 ms, %d s each:\n",
        seconds);
    if (wanted("reference")) {
        Window window(folder.path + "/none/DevToolsActivePort", folder.path + "/WebDriverBiDiServer.json");
        printStalls("no browser (the reference)", window.run(each));
    }
    if (wanted("deep"))
        hostilePeer("deep", "deep JSON answers after the handshake", "answers", folder, each);
    if (wanted("huge"))
        hostilePeer("huge", "a 100 MB frame", "MiB", folder, each);
    if (wanted("flood"))
        flood(folder, each);
    if (wanted("many"))
        hostilePeer("many", "9,999 pages at once, then silence", "pages", folder, each);
    if (wanted("stopped"))
        stoppedChromium(folder, each);
    return 0;
}

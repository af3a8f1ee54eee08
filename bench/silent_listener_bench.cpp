// How long one tick keeps the calling thread when no browser runs and the
// places a browser is looked for hold something that accepts a connection and
// never sends a byte: a port named by a DevToolsActivePort file and a fixed
// debugging port. Prints the longest and the median tick.
//
// usage: silent_listener_bench [--ticks N]   (default: 30 ticks, 600 ms apart)

#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/cdp/cdp_browser.h"
#include "tests/fakes/fake_platform.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A socket on 127.0.0.1 whose backlog accepts connections that nobody ever
// reads from or writes to.
class SilentListener {
public:
    SilentListener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_fd, 128) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            std::perror("silent listener");
            std::exit(1);
        }
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(m_fd); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_fd;
    std::uint16_t m_port = 0;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    int ticks = 30;
    if (argc == 3 && std::strcmp(argv[1], "--ticks") == 0)
        ticks = std::max(1, std::atoi(argv[2]));

    SilentListener named;
    SilentListener fixed;
    char folder[] = "/tmp/silent-listener-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string portFile = std::string(folder) + "/DevToolsActivePort";
    std::ofstream(portFile) << named.port() << "\n/devtools/browser/silent\n";

    tavro::fakes::FakePlatform fake;
    tavro::cdp::CdpBrowserAutomation browser(tavro::cdp::BrowserPlaces{{portFile}, {fixed.port()}});
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
    std::printf("Tick on the calling thread, no browser, silent listeners on the port file's port and on a "
                "fixed port (%d ticks):\n",
                ticks);
    std::printf("  median %.2f ms, longest %.2f ms\n", times[times.size() / 2], times.back());
    ::unlink(portFile.c_str());
    ::rmdir(folder);
    return 0;
}

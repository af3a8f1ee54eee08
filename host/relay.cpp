#include "host/relay.h"

#include "browsers/wire/frames.h"
#include "browsers/wire/json_message.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::host {

namespace {

using wire::FrameReader;

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

enum class Outcome { Open, Ended, Refused };

// One side's news: reads what came and passes on each whole message.
class Direction {
public:
    // longest: what the receiving side takes; the browser takes less than the program.
    Direction(const char* from, int in, int out, std::size_t longest)
        : m_from(from), m_in(in), m_out(out), m_longest(longest), m_reader(longest) {}

    Outcome pass() {
        std::array<char, 64 * 1024> chunk{};
        const ssize_t n = ::read(m_in, chunk.data(), chunk.size());
        if (n < 0)
            return errno == EINTR || errno == EAGAIN ? Outcome::Open : Outcome::Ended;
        if (n == 0) {
            if (m_reader.midMessage())
                std::fprintf(stderr, "tavro-popup-blocker-host: a message from the %s was cut short\n",
                             m_from);
            return Outcome::Ended;
        }
        m_reader.append(chunk.data(), static_cast<std::size_t>(n));
        while (const std::optional<std::string> text = m_reader.next()) {
            if (!wire::parseMessage(*text)) {
                std::fprintf(stderr, "tavro-popup-blocker-host: refused a message from the %s: %s\n", m_from,
                             "not a JSON object within 64 levels");
                return Outcome::Refused;
            }
            if (!writeAll(m_out, wire::frame(*text)))
                return Outcome::Ended;
        }
        if (m_reader.fault() == FrameReader::Fault::TooLong) {
            std::fprintf(stderr,
                         "tavro-popup-blocker-host: refused a message from the %s: longer than %zu bytes\n",
                         m_from, m_longest);
            return Outcome::Refused;
        }
        return Outcome::Open;
    }

private:
    const char* m_from;
    int m_in;
    int m_out;
    std::size_t m_longest;
    FrameReader m_reader;
};

} // namespace

void tellAbsent(int browserOut) {
    writeAll(browserOut, wire::frame(R"({"type":"absent"})"));
}

int relay(int browserIn, int browserOut, int program) {
    Direction fromBrowser("browser", browserIn, program, wire::MaxMessageBytes);
    Direction fromProgram("program", program, browserOut, wire::BrowserTakesAtMostBytes);
    std::array<pollfd, 2> watched{{{browserIn, POLLIN, 0}, {program, POLLIN, 0}}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (watched[0].revents != 0) {
            const Outcome outcome = fromBrowser.pass();
            if (outcome != Outcome::Open)
                return outcome == Outcome::Refused ? 1 : 0;
        }
        if (watched[1].revents != 0) {
            const Outcome outcome = fromProgram.pass();
            if (outcome == Outcome::Ended)
                tellAbsent(browserOut);
            if (outcome != Outcome::Open)
                return outcome == Outcome::Refused ? 1 : 0;
        }
    }
}

} // namespace tavro::host

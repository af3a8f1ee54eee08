#include "browsers/mirror/listeners.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace tavro::browsers {

namespace {

// A few thousand sockets; a table larger than this is not read to its end.
constexpr std::size_t MaxSocketTableBytes = 4U * 1024U * 1024U;
constexpr unsigned ListenState = 0x0A;

// At most limit bytes of a file; nothing when it cannot be read.
std::optional<std::string> readSmallFile(const char* path, std::size_t limit) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while (text.size() < limit && (got = ::read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    ::close(fd);
    if (got < 0 || text.size() >= limit)
        return std::nullopt;
    return text;
}

struct SocketRow {
    std::vector<unsigned char> address;
    std::uint16_t port = 0;
    unsigned state = 0;
    uid_t uid = 0;
};

std::optional<unsigned long> parseHex(std::string_view text) {
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The kernel prints an address as 32-bit words in the machine's own order.
std::optional<std::vector<unsigned char>> parseAddress(std::string_view hex) {
    if (hex.size() != 8 && hex.size() != 32)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 8) {
        const auto word = parseHex(hex.substr(i, 8));
        if (!word)
            return std::nullopt;
        const auto value = static_cast<std::uint32_t>(*word);
        unsigned char raw[4];
        std::memcpy(raw, &value, sizeof raw);
        bytes.insert(bytes.end(), raw, raw + 4);
    }
    return bytes;
}

// "sl local_address rem_address st tx:rx tr:tm retrnsmt uid ..."
std::optional<SocketRow> parseSocketRow(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t at = 0; at < line.size() && fields.size() < 8;) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    if (fields.size() < 8)
        return std::nullopt;
    const std::size_t colon = fields[1].find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    auto address = parseAddress(fields[1].substr(0, colon));
    const auto port = parseHex(fields[1].substr(colon + 1));
    const auto state = parseHex(fields[3]);
    unsigned long uid = 0;
    const auto [end, ec] = std::from_chars(fields[7].data(), fields[7].data() + fields[7].size(), uid);
    if (!address || !port || *port > 65535 || !state || ec != std::errc() ||
        end != fields[7].data() + fields[7].size())
        return std::nullopt;
    return SocketRow{std::move(*address), static_cast<std::uint16_t>(*port), static_cast<unsigned>(*state),
                     static_cast<uid_t>(uid)};
}

// 127.0.0.1 itself, or every address: IPv4, or IPv6's any and its mapped form.
bool reachesLoopback(const std::vector<unsigned char>& address) {
    static const std::vector<unsigned char> loopback{127, 0, 0, 1};
    static const std::vector<unsigned char> mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
    const bool any = std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; });
    return any || address == loopback || address == mapped;
}

} // namespace

Listener listenerIn(std::string_view table, std::uint16_t port, uid_t user) {
    Listener found = Listener::None;
    std::size_t lineStart = table.find('\n'); // the heading
    while (lineStart != std::string_view::npos && lineStart < table.size()) {
        const std::size_t lineEnd = table.find('\n', lineStart + 1);
        const auto row = parseSocketRow(table.substr(lineStart + 1, lineEnd - lineStart - 1));
        lineStart = lineEnd;
        if (!row || row->state != ListenState || row->port != port || !reachesLoopback(row->address))
            continue;
        if (row->uid != user)
            return Listener::Foreign;
        found = Listener::Own;
    }
    return found;
}

Listener portListener(std::uint16_t port) {
    Listener found = Listener::None;
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const auto table = readSmallFile(path, MaxSocketTableBytes);
        if (!table)
            return Listener::Foreign;
        const Listener here = listenerIn(*table, port, ::geteuid());
        if (here == Listener::Foreign)
            return here;
        if (here == Listener::Own)
            found = here;
    }
    return found;
}

} // namespace tavro::browsers

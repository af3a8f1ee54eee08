#include "platform/cdp/discovery.h"

#include "platform/error.h"

#include <algorithm>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::cdp {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::uint16_t UsualDebuggingPort = 9222;
constexpr std::size_t MaxPortFileBytes = 4096;
constexpr std::uint32_t MaxVersionBytes = 64U * 1024U;
// A few thousand sockets; a table larger than this is not read to its end.
constexpr std::size_t MaxSocketTableBytes = 4U * 1024U * 1024U;
constexpr unsigned ListenState = 0x0A;
constexpr std::chrono::seconds FirstRest{2};
constexpr int MaxDoublings = 5;

std::optional<std::uint16_t> parsePort(const std::string& text) {
    unsigned value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The path part of ws://host:port/path; only the path is used, so a browser
// cannot send us anywhere but the loopback address we asked.
std::string pathOfWebSocketUrl(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos)
        return {};
    const auto slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? std::string() : url.substr(slash);
}

// The home folder from the environment, else from the user database; empty
// unless it is absolute.
std::string homeFolder() {
    std::string home;
    if (const char* fromEnvironment = std::getenv("HOME"); fromEnvironment != nullptr)
        home = fromEnvironment;
    if (home.empty()) {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            home = found->pw_dir;
    }
    return !home.empty() && home.front() == '/' ? home : std::string();
}

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

std::string browserProfileFolder() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        base = data;
    else if (const std::string home = homeFolder(); !home.empty())
        base = home + "/.local/share";
    else
        return {};
    return base + "/tavro-popup-blocker/browser";
}

BrowserPlaces defaultBrowserPlaces() {
    BrowserPlaces places{{}, {UsualDebuggingPort}};
    if (const std::string folder = browserProfileFolder(); !folder.empty())
        places.portFiles.push_back(folder + "/DevToolsActivePort");
    return places;
}

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

std::optional<Endpoint> readPortFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::string text(MaxPortFileBytes, '\0');
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
        got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(got));
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos)
        return std::nullopt;
    const std::size_t secondEnd = text.find('\n', firstEnd + 1);
    const auto port = parsePort(text.substr(0, firstEnd));
    std::string pathLine = text.substr(
        firstEnd + 1, secondEnd == std::string::npos ? std::string::npos : secondEnd - firstEnd - 1);
    if (!port || pathLine.empty() || pathLine.front() != '/')
        return std::nullopt;
    return Endpoint{*port, std::move(pathLine)};
}

bool PlaceBackoff::resting(const std::string& place, Clock::time_point now) const {
    const auto it = m_places.find(place);
    return it != m_places.end() && now < it->second.until;
}

void PlaceBackoff::failed(const std::string& place, Clock::time_point now) {
    Rest& rest = m_places[place];
    rest.failures = std::min(rest.failures + 1, MaxDoublings);
    rest.until = now + FirstRest * (1 << (rest.failures - 1));
}

std::string askBrowserPath(std::uint16_t port, std::chrono::milliseconds timeout) {
    net::io_context io;
    beast::tcp_stream stream(io);
    beast::flat_buffer buffer;
    http::request<http::empty_body> request(http::verb::get, "/json/version", 11);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    // A browser's answer is a few hundred bytes; a listener sending more is
    // cut off rather than buffered.
    http::response_parser<http::string_body> parser;
    parser.header_limit(MaxVersionBytes);
    parser.body_limit(MaxVersionBytes);

    bool done = false;
    std::string failure;
    auto stop = [&](const boost::system::error_code& ec) {
        failure = ec.message();
        done = true;
    };
    stream.expires_after(timeout);
    stream.async_connect(net::ip::tcp::endpoint(net::ip::address_v4::loopback(), port),
                         [&](const boost::system::error_code& ec) {
                             if (ec)
                                 return stop(ec);
                             http::async_write(
                                 stream, request, [&](const boost::system::error_code& wec, std::size_t) {
                                     if (wec)
                                         return stop(wec);
                                     http::async_read(stream, buffer, parser,
                                                      [&](const boost::system::error_code& rec, std::size_t) {
                                                          if (rec)
                                                              return stop(rec);
                                                          done = true;
                                                      });
                                 });
                         });
    // The stream's own expiry ends every stage, so this returns within the timeout.
    io.run();
    if (!done || !failure.empty())
        throw Error(errc::AutomationError,
                    "No browser answers on port " + std::to_string(port) + ": " + failure);

    const auto& response = parser.get();
    const Json version = Json::parse(response.body(), nullptr, false);
    if (response.result() != http::status::ok || !version.is_object() ||
        !version.contains("webSocketDebuggerUrl") || !version["webSocketDebuggerUrl"].is_string())
        throw Error(errc::AutomationError,
                    "Port " + std::to_string(port) + " is not a browser's debugging port");
    std::string path = pathOfWebSocketUrl(version["webSocketDebuggerUrl"].get<std::string>());
    if (path.empty())
        throw Error(errc::AutomationError, "Port " + std::to_string(port) + " names no browser endpoint");
    return path;
}

std::unique_ptr<Connection> connectToBrowser(const BrowserPlaces& places,
                                             std::chrono::milliseconds timeoutEach, PlaceBackoff* backoff) {
    std::string lastFailure = "no place to look for a browser";
    auto attempt = [&](const std::string& place, std::uint16_t port,
                       const auto& open) -> std::unique_ptr<Connection> {
        if (backoff != nullptr && backoff->resting(place, Clock::now()))
            return nullptr;
        // A browser that was killed leaves its file behind; the port it names
        // is simply closed, and the next place is tried. Another user's
        // listener is no browser of ours.
        if (portListener(port) != Listener::Own) {
            lastFailure = "nothing of the user's listens on port " + std::to_string(port);
            return nullptr;
        }
        try {
            std::unique_ptr<Connection> c = open();
            if (backoff != nullptr)
                backoff->answered(place);
            return c;
        } catch (const Error& e) {
            lastFailure = e.description();
            if (backoff != nullptr)
                backoff->failed(place, Clock::now());
            return nullptr;
        }
    };
    for (const std::string& file : places.portFiles) {
        const auto endpoint = readPortFile(file);
        if (!endpoint) {
            lastFailure = "no browser has written " + file;
            continue;
        }
        if (auto c = attempt(file, endpoint->port,
                             [&] { return Connection::open(endpoint->port, endpoint->path, timeoutEach); }))
            return c;
    }
    for (std::uint16_t port : places.ports) {
        if (auto c = attempt("port " + std::to_string(port), port, [&] {
                return Connection::open(port, askBrowserPath(port, timeoutEach), timeoutEach);
            }))
            return c;
    }
    throw Error(errc::AutomationError, "No browser with a debugging port was found (" + lastFailure + ")");
}

} // namespace tavro::cdp

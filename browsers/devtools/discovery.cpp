#include "browsers/devtools/discovery.h"

#include "browsers/mirror/profile_files.h"
#include "platform/error.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <charconv>

namespace tavro::devtools {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::uint16_t UsualDebuggingPort = 9222;
constexpr std::size_t MaxPortFileBytes = 4096;
constexpr std::uint32_t MaxVersionBytes = 64U * 1024U;

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

} // namespace

std::string browserProfileFolder() {
    return browsers::profileFolder("browser");
}

BrowserPlaces defaultBrowserPlaces() {
    BrowserPlaces places{{}, {UsualDebuggingPort}};
    if (const std::string folder = browserProfileFolder(); !folder.empty())
        places.portFiles.push_back(folder + "/DevToolsActivePort");
    return places;
}

std::optional<Endpoint> readPortFile(const std::string& path) {
    const std::optional<std::string> file = browsers::readOwnFile(path, MaxPortFileBytes);
    if (!file)
        return std::nullopt;
    const std::string& text = *file;
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

std::vector<browsers::Place> placesOf(const BrowserPlaces& places) {
    std::vector<browsers::Place> all;
    for (const std::string& file : places.portFiles)
        all.push_back({file, [file] { return readPortFile(file); }, nullptr});
    for (const std::uint16_t port : places.ports) {
        all.push_back({"port " + std::to_string(port),
                       [port] {
                           return std::optional<Endpoint>(Endpoint{port, {}});
                       },
                       askBrowserPath});
    }
    return all;
}

} // namespace tavro::devtools

#include "platform/cdp/discovery.h"

#include "platform/browsers/profile_files.h"
#include "platform/error.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <fstream>

namespace tavro::cdp {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::uint16_t UsualDebuggingPort = 9222;

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
    return browsers::programDataFolder() + "/browser";
}

BrowserPlaces defaultBrowserPlaces() {
    return BrowserPlaces{{browserProfileFolder() + "/DevToolsActivePort"}, {UsualDebuggingPort}};
}

std::optional<Endpoint> readPortFile(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string portLine;
    std::string pathLine;
    if (!std::getline(in, portLine) || !std::getline(in, pathLine))
        return std::nullopt;
    const auto port = parsePort(portLine);
    if (!port || pathLine.empty() || pathLine.front() != '/')
        return std::nullopt;
    return Endpoint{*port, pathLine};
}

std::string askBrowserPath(std::uint16_t port, std::chrono::milliseconds timeout) {
    net::io_context io;
    beast::tcp_stream stream(io);
    beast::flat_buffer buffer;
    http::request<http::empty_body> request(http::verb::get, "/json/version", 11);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    http::response<http::string_body> response;

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
                                     http::async_read(stream, buffer, response,
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
                                             std::chrono::milliseconds timeoutEach) {
    std::string lastFailure = "no place to look for a browser";
    for (const std::string& file : places.portFiles) {
        const auto endpoint = readPortFile(file);
        if (!endpoint) {
            lastFailure = "no browser has written " + file;
            continue;
        }
        try {
            return Connection::open(endpoint->port, endpoint->path, timeoutEach);
        } catch (const Error& e) {
            // A browser that was killed leaves its file behind; the port it
            // names is simply closed, and the next place is tried.
            lastFailure = e.description();
        }
    }
    for (std::uint16_t port : places.ports) {
        try {
            return Connection::open(port, askBrowserPath(port, timeoutEach), timeoutEach);
        } catch (const Error& e) {
            lastFailure = e.description();
        }
    }
    throw Error(errc::AutomationError, "No browser with a debugging port was found (" + lastFailure + ")");
}

} // namespace tavro::cdp

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavro::testing {

// A small HTTP server on 127.0.0.1 for the pages the browser tests open. It
// answers every host name, so pages from ads.localhost:PORT and
// site.localhost:PORT come from the same server while the browser sees them as
// different sites.
class PageServer final {
public:
    PageServer();
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // Serves body at path (without the query), as the given type.
    void page(const std::string& path, std::string body, std::string contentType = "text/html");
    // http://host:port/path
    std::string url(const std::string& host, const std::string& path) const;
    // host:port, the domain the popup scan takes from such an address.
    std::string domain(const std::string& host) const;

    // A request the server has read, as the browser sent it.
    struct Request {
        std::string method;
        std::string host;
        std::string target;
        std::string body;
    };
    // Every request so far whose target contains text.
    std::vector<Request> requested(const std::string& text) const;

    // What the server thread shares with the test thread.
    struct State;

private:
    std::unique_ptr<State> m_state;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

} // namespace tavro::testing

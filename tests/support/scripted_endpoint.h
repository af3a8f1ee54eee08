#pragma once

#include "browsers/wire/json_message.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace tavro::testing {

// A browser endpoint whose answers the test scripts. It serves one client at a
// time: /json/version over HTTP, and the WebSocket at any other path.
class ScriptedEndpoint {
public:
    // Answers with a message, or with raw bytes on the socket (a frame of its own making).
    struct Reply {
        std::function<void(const wire::Json&)> message;
        std::function<void(const std::string&)> raw;
        void operator()(const wire::Json& answer) const { message(answer); }
    };
    // Gets each request; answers through reply (or not), may sleep first.
    // Returning false closes the connection.
    using Script = std::function<bool(const wire::Json& request, const Reply& reply)>;

    explicit ScriptedEndpoint(Script script, std::string version = {})
        : m_script(std::move(script)), m_version(std::move(version)),
          m_acceptor(m_io, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0)) {
        m_port = m_acceptor.local_endpoint().port();
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedEndpoint() {
        m_stop = true;
        boost::system::error_code ignored;
        // Wake the accept with a connection of our own.
        boost::asio::ip::tcp::socket poke(m_io);
        poke.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), m_port),
                     ignored);
        m_thread.join();
    }
    std::uint16_t port() const { return m_port; }
    std::string path() const { return "/devtools/browser/test"; }
    int connections() const { return m_connections; }

private:
    void serve();

    Script m_script;
    std::string m_version;
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// The answer to request that carries result, as a browser would send it.
inline wire::Json answerTo(const wire::Json& request, wire::Json result) {
    return {{"id", request["id"]}, {"result", std::move(result)}};
}

} // namespace tavro::testing

#include "tests/support/page_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

namespace tavro::testing {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

struct PageServer::State {
    struct Content {
        std::string body;
        std::string type;
    };

    net::io_context io;
    tcp::acceptor acceptor{io};
    std::mutex mutex;
    std::map<std::string, Content> pages;
    std::vector<PageServer::Request> requests;

    Content find(const std::string& target) {
        const std::string path = target.substr(0, target.find('?'));
        std::lock_guard lock(mutex);
        const auto it = pages.find(path);
        return it == pages.end() ? Content{} : it->second;
    }
};

namespace {

// One request per connection: the browser keeps idle sockets and opens
// speculative ones, and none of them may hold up the others.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, PageServer::State* state) : m_stream(std::move(socket)), m_state(state) {}

    void start() {
        m_stream.expires_after(std::chrono::seconds(30));
        http::async_read(
            m_stream, m_buffer, m_request,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->answer(ec); });
    }

private:
    void answer(beast::error_code ec) {
        if (ec)
            return;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->requests.push_back({std::string(m_request.method_string()),
                                         std::string(m_request[http::field::host]),
                                         std::string(m_request.target()), m_request.body()});
        }
        const auto content = m_state->find(std::string(m_request.target()));
        m_response.version(11);
        m_response.keep_alive(false);
        if (content.type.empty()) {
            m_response.result(http::status::not_found);
            m_response.set(http::field::content_type, "text/plain");
            m_response.body() = "not found";
        } else {
            m_response.result(http::status::ok);
            m_response.set(http::field::content_type, content.type);
            m_response.set(http::field::cache_control, "no-store");
            m_response.body() = content.body;
        }
        m_response.prepare_payload();
        http::async_write(m_stream, m_response, [self = shared_from_this()](beast::error_code, std::size_t) {
            beast::error_code ignored;
            self->m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        });
    }

    beast::tcp_stream m_stream;
    PageServer::State* m_state;
    beast::flat_buffer m_buffer;
    http::request<http::string_body> m_request;
    http::response<http::string_body> m_response;
};

// The handlers hold the state by plain pointer: the io_context that holds them
// belongs to the state, and a shared owner here would keep both alive forever.
void acceptNext(PageServer::State* state) {
    state->acceptor.async_accept([state](beast::error_code ec, tcp::socket socket) {
        if (ec)
            return;
        std::make_shared<Session>(std::move(socket), state)->start();
        acceptNext(state);
    });
}

} // namespace

PageServer::PageServer() : m_state(std::make_unique<State>()) {
    const tcp::endpoint endpoint(net::ip::address_v4::loopback(), 0);
    m_state->acceptor.open(endpoint.protocol());
    m_state->acceptor.set_option(net::socket_base::reuse_address(true));
    m_state->acceptor.bind(endpoint);
    m_state->acceptor.listen();
    m_port = m_state->acceptor.local_endpoint().port();
    acceptNext(m_state.get());
    m_thread = std::thread([state = m_state.get()] { state->io.run(); });
}

PageServer::~PageServer() {
    m_state->io.stop();
    m_thread.join();
}

void PageServer::page(const std::string& path, std::string body, std::string contentType) {
    std::lock_guard lock(m_state->mutex);
    m_state->pages[path] = State::Content{std::move(body), std::move(contentType)};
}

std::string PageServer::url(const std::string& host, const std::string& path) const {
    return "http://" + domain(host) + path;
}

std::vector<PageServer::Request> PageServer::requested(const std::string& text) const {
    std::lock_guard lock(m_state->mutex);
    std::vector<Request> found;
    for (const Request& request : m_state->requests)
        if (request.target.find(text) != std::string::npos)
            found.push_back(request);
    return found;
}

std::string PageServer::domain(const std::string& host) const {
    return host + ":" + std::to_string(m_port);
}

} // namespace tavro::testing

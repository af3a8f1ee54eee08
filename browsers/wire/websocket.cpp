#include "browsers/wire/websocket.h"

#include "platform/error.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket.hpp>

namespace tavro::wire {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace ws = beast::websocket;

namespace {

constexpr std::size_t KeptBufferBytes = 1024U * 1024U;

} // namespace

struct WebSocket::Stream {
    Stream() : websocket(io) {}

    // The context outlives the stream, so handlers still queued when the
    // stream goes are destroyed without running.
    net::io_context io;
    ws::stream<beast::tcp_stream> websocket;
    beast::flat_buffer readBuffer;
};

WebSocket::WebSocket() : m_stream(std::make_unique<Stream>()) {}

WebSocket::~WebSocket() {
    boost::system::error_code ignored;
    beast::get_lowest_layer(m_stream->websocket).socket().close(ignored);
}

template <typename Done> void WebSocket::runWhile(Done&& done, Clock::time_point deadline) {
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return;
        if (m_stream->io.stopped())
            m_stream->io.restart();
        // Returns after one handler or when the time is up; nothing waits
        // longer than the caller allowed.
        const std::size_t ran = m_stream->io.run_one_for(deadline - now);
        dropWhenClosing();
        if (ran == 0 && m_stream->io.stopped() && !m_open)
            return;
    }
}

std::unique_ptr<WebSocket> WebSocket::open(std::uint16_t port, const std::string& path,
                                           std::chrono::milliseconds timeout) {
    std::unique_ptr<WebSocket> c(new WebSocket());
    const auto deadline = Clock::now() + timeout;
    const net::ip::tcp::endpoint endpoint(net::ip::address_v4::loopback(), port);

    enum class Step { Connecting, Handshaking, Done, Failed };
    Step stage = Step::Connecting;
    std::string failure;
    auto& self = *c;
    beast::get_lowest_layer(self.m_stream->websocket)
        .socket()
        .async_connect(endpoint, [&](const boost::system::error_code& ec) {
            if (ec) {
                failure = ec.message();
                stage = Step::Failed;
                return;
            }
            stage = Step::Handshaking;
            // The browser refuses a Host header that is not a loopback address.
            self.m_stream->websocket.async_handshake("127.0.0.1:" + std::to_string(port), path,
                                                     [&](const boost::system::error_code& hec) {
                                                         if (hec) {
                                                             failure = hec.message();
                                                             stage = Step::Failed;
                                                         } else {
                                                             stage = Step::Done;
                                                         }
                                                     });
        });
    self.runWhile([&] { return stage == Step::Done || stage == Step::Failed; }, deadline);
    if (stage != Step::Done) {
        // Closing cancels what is still running; those handlers must run now,
        // while the locals they refer to still exist.
        boost::system::error_code ignored;
        beast::get_lowest_layer(self.m_stream->websocket).socket().close(ignored);
        self.m_stream->io.restart();
        self.m_stream->io.poll();
        if (failure.empty())
            failure = "the browser did not answer in time";
        throw Error(errc::AutomationError,
                    "Cannot reach the browser's automation port " + std::to_string(port) + ": " + failure);
    }
    self.m_stream->websocket.read_message_max(MaxMessageBytes);
    self.m_stream->websocket.control_callback([&self](ws::frame_type kind, beast::string_view) {
        if (kind == ws::frame_type::close)
            self.m_peerClosing = true;
    });
    self.m_open = true;
    self.readNext();
    return c;
}

// A message over the cap, or a peer's close, starts the closing handshake; the
// socket is let go at once rather than after a peer that may never finish it.
// We never close first but for what no browser sends.
void WebSocket::dropWhenClosing() {
    if (!m_open || m_stream->websocket.is_open())
        return;
    if (!m_peerClosing)
        m_refused = true;
    fail();
}

void WebSocket::fail() {
    if (!m_open)
        return;
    m_open = false;
    boost::system::error_code ignored;
    beast::get_lowest_layer(m_stream->websocket).socket().close(ignored);
}

// A message is read a frame's worth at a time: once a frame's header is in,
// the buffer takes the rest of it in one piece, rather than doubling and
// copying its way up to a large answer.
void WebSocket::readNext() {
    const std::size_t room = m_stream->websocket.read_size_hint(m_stream->readBuffer);
    m_stream->websocket.async_read_some(
        m_stream->readBuffer, room, [this](const boost::system::error_code& ec, std::size_t) {
            if (ec) {
                if (ec == ws::error::message_too_big || ec == ws::error::buffer_overflow)
                    m_refused = true;
                m_stream->readBuffer = beast::flat_buffer();
                fail();
                return;
            }
            if (m_stream->websocket.is_message_done())
                takeMessage();
            if (m_open)
                readNext();
        });
}

void WebSocket::takeMessage() {
    const auto data = m_stream->readBuffer.data();
    take(std::string_view(static_cast<const char*>(data.data()), data.size()));
    m_stream->readBuffer.consume(m_stream->readBuffer.size());
    // One large answer must not keep its memory for the rest of the run.
    if (m_stream->readBuffer.capacity() > KeptBufferBytes)
        m_stream->readBuffer = beast::flat_buffer();
}

// No browser sends what cannot be read; a peer that does is no browser, and
// is let go rather than read on.
void WebSocket::take(std::string_view text) {
    std::optional<Json> parsed = parseMessage(text);
    if (!parsed) {
        m_refused = true;
        fail();
        return;
    }
    dispatch(std::move(*parsed));
}

void WebSocket::write(std::string text) {
    m_outbox.push_back(std::move(text));
    if (!m_writing)
        writeNext();
}

void WebSocket::writeNext() {
    if (m_outbox.empty() || !m_open) {
        m_writing = false;
        return;
    }
    m_writing = true;
    m_stream->websocket.text(true);
    m_stream->websocket.async_write(net::buffer(m_outbox.front()),
                                    [this](const boost::system::error_code& ec, std::size_t) {
                                        m_outbox.pop_front();
                                        if (ec) {
                                            m_writing = false;
                                            fail();
                                            return;
                                        }
                                        writeNext();
                                    });
}

Json WebSocket::compose(long id, const std::string& method, const Json& params,
                        const std::string& session) const {
    Json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty())
        message["sessionId"] = session;
    return message;
}

void WebSocket::runUntil(Clock::time_point deadline) {
    if (m_stream->io.stopped())
        m_stream->io.restart();
    // run_one_until returns early when interrupt() stops the context.
    while (!m_stream->io.stopped() && Clock::now() < deadline) {
        m_stream->io.run_one_until(deadline);
        dropWhenClosing();
    }
}

bool WebSocket::execute(std::function<void()> work) {
    net::post(m_stream->io, std::move(work));
    return true;
}

void WebSocket::interrupt() {
    m_stream->io.stop();
}

Json WebSocket::call(const std::string& method, const Json& params, std::chrono::milliseconds timeout,
                     const std::string& session) {
    std::optional<Json> answer;
    const long id = send(method, params, session, [&answer](Json a) { answer = std::move(a); });
    if (m_open)
        runWhile([&] { return answer.has_value() || !m_open; }, Clock::now() + timeout);
    if (!answer) {
        forget(id);
        throw Error(errc::AutomationError,
                    m_open ? "The browser did not answer " + method + " in time" : "The browser has gone");
    }
    return resultOf(std::move(*answer));
}

} // namespace tavro::wire

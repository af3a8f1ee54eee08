#include "platform/websocket/json_connection.h"

#include "platform/error.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/websocket.hpp>

namespace tavro::websocket {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

constexpr std::size_t KeptBufferBytes = 1024U * 1024U;

} // namespace

Connection::Connection() : m_ws(m_io) {}

std::unique_ptr<Connection> Connection::detached() {
    return std::unique_ptr<Connection>(new Connection());
}

Connection::~Connection() {
    boost::system::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().close(ignored);
}

template <typename Done> void Connection::runWhile(Done&& done, Clock::time_point deadline) {
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return;
        if (m_io.stopped())
            m_io.restart();
        // Returns after one handler or when the time is up; nothing waits
        // longer than the caller allowed.
        const std::size_t ran = m_io.run_one_for(deadline - now);
        dropWhenClosing();
        if (ran == 0 && m_io.stopped() && !m_open)
            return;
    }
}

std::unique_ptr<Connection> Connection::open(std::uint16_t port, const std::string& path,
                                             std::chrono::milliseconds timeout) {
    std::unique_ptr<Connection> c(new Connection());
    const auto deadline = Clock::now() + timeout;
    const net::ip::tcp::endpoint endpoint(net::ip::address_v4::loopback(), port);

    enum class Stage { Connecting, Handshaking, Done, Failed };
    Stage stage = Stage::Connecting;
    std::string failure;
    auto& self = *c;
    beast::get_lowest_layer(self.m_ws).socket().async_connect(
        endpoint, [&](const boost::system::error_code& ec) {
            if (ec) {
                failure = ec.message();
                stage = Stage::Failed;
                return;
            }
            stage = Stage::Handshaking;
            // The browser refuses a Host header that is not a loopback address.
            self.m_ws.async_handshake("127.0.0.1:" + std::to_string(port), path,
                                      [&](const boost::system::error_code& hec) {
                                          if (hec) {
                                              failure = hec.message();
                                              stage = Stage::Failed;
                                          } else {
                                              stage = Stage::Done;
                                          }
                                      });
        });
    self.runWhile([&] { return stage == Stage::Done || stage == Stage::Failed; }, deadline);
    if (stage != Stage::Done) {
        // Closing cancels what is still running; those handlers must run now,
        // while the locals they refer to still exist.
        boost::system::error_code ignored;
        beast::get_lowest_layer(self.m_ws).socket().close(ignored);
        self.m_io.restart();
        self.m_io.poll();
        if (failure.empty())
            failure = "the browser did not answer in time";
        throw Error(errc::AutomationError,
                    "Cannot reach the browser's automation port " + std::to_string(port) + ": " + failure);
    }
    self.m_ws.read_message_max(MaxMessageBytes);
    self.m_ws.control_callback([&self](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::close)
            self.m_peerClosing = true;
    });
    self.m_open = true;
    self.readNext();
    return c;
}

int Connection::nativeHandle() {
    auto& socket = beast::get_lowest_layer(m_ws).socket();
    return m_open && socket.is_open() ? socket.native_handle() : -1;
}

// A message over the cap, or a peer's close, starts the closing handshake; the
// socket is let go at once rather than after a peer that may never finish it.
// We never close first but for what no browser sends.
void Connection::dropWhenClosing() {
    if (!m_open || m_ws.is_open())
        return;
    if (!m_peerClosing)
        m_refused = true;
    fail();
}

void Connection::fail() {
    if (!m_open)
        return;
    m_open = false;
    boost::system::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().close(ignored);
    if (onClosed)
        onClosed();
}

// A message is read a frame's worth at a time: once a frame's header is in,
// the buffer takes the rest of it in one piece, rather than doubling and
// copying its way up to a large answer.
void Connection::readNext() {
    const std::size_t room = m_ws.read_size_hint(m_readBuffer);
    m_ws.async_read_some(m_readBuffer, room, [this](const boost::system::error_code& ec, std::size_t) {
        if (ec) {
            if (ec == websocket::error::message_too_big || ec == websocket::error::buffer_overflow)
                m_refused = true;
            m_readBuffer = beast::flat_buffer();
            fail();
            return;
        }
        if (m_ws.is_message_done())
            takeMessage();
        if (m_open)
            readNext();
    });
}

void Connection::takeMessage() {
    const auto data = m_readBuffer.data();
    dispatch(std::string_view(static_cast<const char*>(data.data()), data.size()));
    m_readBuffer.consume(m_readBuffer.size());
    // One large answer must not keep its memory for the rest of the run.
    if (m_readBuffer.capacity() > KeptBufferBytes)
        m_readBuffer = beast::flat_buffer();
}

// No browser sends what cannot be read; a peer that does is no browser, and
// is let go rather than read on.
void Connection::dispatch(std::string_view text) {
    std::optional<Json> parsed = parseMessage(text);
    if (!parsed) {
        m_refused = true;
        fail();
        return;
    }
    m_lastHeard = Clock::now();
    Json& message = *parsed;
    const auto id = message.find("id");
    if (id != message.end()) {
        if (!id->is_number_integer())
            return;
        const long number = id->get<long>();
        if (const auto handler = m_handlers.find(number); handler != m_handlers.end()) {
            AnswerHandler onAnswer = std::move(handler->second);
            m_handlers.erase(handler);
            onAnswer(std::move(message));
            return;
        }
        const auto awaited = m_awaited.find(number);
        if (awaited != m_awaited.end())
            awaited->second = std::move(message);
        return;
    }
    if (onEvent && message.contains("method"))
        onEvent(message);
}

void Connection::queue(std::string text) {
    m_outbox.push_back(std::move(text));
    if (!m_writing)
        writeNext();
}

void Connection::writeNext() {
    if (m_outbox.empty() || !m_open) {
        m_writing = false;
        return;
    }
    m_writing = true;
    m_ws.text(true);
    m_ws.async_write(net::buffer(m_outbox.front()), [this](const boost::system::error_code& ec, std::size_t) {
        m_outbox.pop_front();
        if (ec) {
            m_writing = false;
            fail();
            return;
        }
        writeNext();
    });
}

long Connection::send(const std::string& method, const Json& params, const std::string& sessionId) {
    const long id = m_nextId++;
    Json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!sessionId.empty())
        message["sessionId"] = sessionId;
    m_awaited.emplace(id, std::nullopt);
    if (m_open)
        queue(message.dump());
    return id;
}

long Connection::send(const std::string& method, const Json& params, const std::string& sessionId,
                      AnswerHandler onAnswer) {
    const long id = send(method, params, sessionId);
    m_awaited.erase(id);
    m_handlers.emplace(id, std::move(onAnswer));
    return id;
}

void Connection::post(const std::string& method, const Json& params, const std::string& sessionId) {
    const long id = send(method, params, sessionId);
    m_awaited.erase(id);
}

bool Connection::wait(const std::vector<long>& ids, Clock::time_point deadline) {
    auto allArrived = [&] {
        for (long id : ids) {
            const auto it = m_awaited.find(id);
            if (it != m_awaited.end() && !it->second)
                return false;
        }
        return true;
    };
    if (m_open)
        runWhile([&] { return allArrived() || !m_open; }, deadline);
    return allArrived();
}

bool Connection::flush(Clock::time_point deadline) {
    if (m_open)
        runWhile([&] { return !m_writing || !m_open; }, deadline);
    return !m_writing;
}

void Connection::poll() {
    if (!m_open)
        return;
    if (m_io.stopped())
        m_io.restart();
    m_io.poll();
    dropWhenClosing();
}

void Connection::runUntil(Clock::time_point deadline) {
    if (m_io.stopped())
        m_io.restart();
    // run_one_until returns early when interrupt() stops the context.
    while (!m_io.stopped() && Clock::now() < deadline) {
        m_io.run_one_until(deadline);
        dropWhenClosing();
    }
}

void Connection::execute(std::function<void()> work) {
    net::post(m_io, std::move(work));
}

void Connection::interrupt() {
    m_io.stop();
}

std::optional<Json> Connection::take(long id) {
    const auto it = m_awaited.find(id);
    if (it == m_awaited.end() || !it->second)
        return std::nullopt;
    std::optional<Json> answer = std::move(it->second);
    m_awaited.erase(it);
    return answer;
}

void Connection::forget(long id) {
    m_awaited.erase(id);
    m_handlers.erase(id);
}

Json Connection::call(const std::string& method, const Json& params, std::chrono::milliseconds timeout,
                      const std::string& sessionId) {
    const long id = send(method, params, sessionId);
    wait({id}, Clock::now() + timeout);
    std::optional<Json> answer = take(id);
    if (!answer) {
        forget(id);
        throw Error(errc::AutomationError,
                    m_open ? "The browser did not answer " + method + " in time" : "The browser has gone");
    }
    return resultOf(std::move(*answer));
}

} // namespace tavro::websocket

#pragma once

#include "platform/websocket/json_message.h"

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::websocket {

using Clock = std::chrono::steady_clock;

// The largest message taken from a browser. An honest answer that lists many
// pages with addresses near the browsers' 2 MB limit fits several times over;
// a larger one is refused as its header arrives, before its body is read, and
// the connection is dropped.
inline constexpr std::size_t MaxMessageBytes = 48U * 1024U * 1024U;

// One WebSocket on the loopback interface carrying JSON commands, answers
// matched by id, and events: the shape both browser automation protocols
// share.
//
// Everything runs on the thread that drives it: a call queues its message and
// then drives the socket until its answer arrives or its deadline passes, or an
// answer is handed to the handler it was sent with as it arrives. An answer
// that arrives after its caller gave up is dropped by its id, so a page that
// hangs in alert() or a script loop never stalls the program for longer than
// the deadline it was given. Only execute() and interrupt() may be called from
// another thread.
class Connection final {
public:
    // Connects to ws://127.0.0.1:port/path; raises an Error when the browser
    // does not accept within the timeout.
    static std::unique_ptr<Connection> open(std::uint16_t port, const std::string& path,
                                            std::chrono::milliseconds timeout);
    // A connection to nothing: what is sent goes nowhere and receive() plays
    // the peer, so that a protocol can be driven without a browser.
    static std::unique_ptr<Connection> detached();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False once the browser has closed the socket or a transfer failed.
    bool isOpen() const { return m_open; }
    // The socket, for an event loop to watch for input between calls (which
    // poll() then handles); -1 once the connection is closed.
    int nativeHandle();

    // Queues a command whose answer will be awaited; returns its id. A
    // sessionId addresses one page's session where the protocol has them.
    long send(const std::string& method, const Json& params = Json::object(),
              const std::string& sessionId = {});
    // Queues a command whose answer is handed to onAnswer as it arrives, the
    // error answers included; returns its id.
    using AnswerHandler = std::function<void(Json answer)>;
    long send(const std::string& method, const Json& params, const std::string& sessionId,
              AnswerHandler onAnswer);
    // Queues a command whose answer nobody waits for.
    void post(const std::string& method, const Json& params = Json::object(),
              const std::string& sessionId = {});

    // Drives the socket until every id has its answer or the deadline passes.
    // Returns true when all of them arrived.
    bool wait(const std::vector<long>& ids, Clock::time_point deadline);
    // Drives the socket until everything queued is written or the deadline passes.
    bool flush(Clock::time_point deadline);
    // Handles whatever has already arrived, without waiting.
    void poll();
    // Handles what arrives until the deadline passes or interrupt() is called.
    void runUntil(Clock::time_point deadline);

    // From any thread: runs work on the thread that drives the connection, at
    // its next turn; work still queued when the connection goes never runs.
    void execute(std::function<void()> work);
    // From any thread: makes the driving thread's runUntil return at once.
    void interrupt();

    // True once the peer sent what no browser sends (a message over the cap,
    // or text that is not a JSON object within the nesting limit): the
    // connection was dropped for it.
    bool refused() const { return m_refused; }
    // Takes a message as if the peer had sent it.
    void receive(std::string_view message) { dispatch(message); }
    // When the peer last sent a message.
    Clock::time_point lastHeard() const { return m_lastHeard; }

    // The answer of id once it has arrived (and forgets the id), else nothing.
    std::optional<Json> take(long id);
    // Stops waiting for id; its answer will be dropped when it comes.
    void forget(long id);
    bool awaiting(long id) const { return m_awaited.contains(id); }

    // One command and its answer's result; raises an Error on a timeout, a
    // closed socket or an error answer.
    Json call(const std::string& method, const Json& params, std::chrono::milliseconds timeout,
              const std::string& sessionId = {});

    // Called for every event the browser sends (a message without an id).
    std::function<void(const Json&)> onEvent;
    // Called once as the connection closes, right after its socket is let go,
    // so that whoever watches the socket stops before its number is reused.
    std::function<void()> onClosed;

private:
    Connection();

    template <typename Done> void runWhile(Done&& done, Clock::time_point deadline);
    void queue(std::string text);
    void writeNext();
    void readNext();
    void takeMessage();
    void dispatch(std::string_view text);
    void dropWhenClosing();
    void fail();

    // The context outlives the stream, so handlers still queued when the
    // stream goes are destroyed without running.
    boost::asio::io_context m_io;
    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    boost::beast::flat_buffer m_readBuffer;
    std::deque<std::string> m_outbox;
    bool m_writing = false;
    bool m_open = false;
    long m_nextId = 1;
    // The ids someone still waits for, with their answer once it came.
    std::map<long, std::optional<Json>> m_awaited;
    std::map<long, AnswerHandler> m_handlers;
    bool m_refused = false;
    bool m_peerClosing = false;
    Clock::time_point m_lastHeard = Clock::now();
};

} // namespace tavro::websocket

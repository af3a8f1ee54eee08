#pragma once

#include "browsers/wire/channel.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace tavro::wire {

// A WebSocket on the loopback interface carrying a browser automation
// protocol's JSON: commands with an id, their answers, and events.
//
// Owned by the thread that runs it: runUntil() handles what arrives and
// writes what is queued, and an answer reaches the handler it was sent with
// as it arrives. An answer that comes after its asker gave up is dropped by
// its id, so a page that hangs in alert() or a script loop never stalls the
// program for longer than the deadline it was given. Other threads may call
// execute() and interrupt() only.
class WebSocket final : public Channel {
public:
    // Connects to ws://127.0.0.1:port/path; raises an Error when the browser
    // does not accept within the timeout.
    static std::unique_ptr<WebSocket> open(std::uint16_t port, const std::string& path,
                                           std::chrono::milliseconds timeout);
    ~WebSocket() override;

    bool isOpen() const override { return m_open; }
    bool refused() const override { return m_refused; }
    void hangUp() override { fail(); }
    // Work still queued when the socket goes never runs.
    bool execute(std::function<void()> work) override;

    // Handles what arrives until the deadline passes or interrupt() is called.
    void runUntil(Clock::time_point deadline);
    // From any thread: makes the owner's runUntil return at once.
    void interrupt();

    // One command and its answer's result, for tools and tests; raises an
    // Error on a timeout, a closed socket or an error answer.
    Json call(const std::string& method, const Json& params, std::chrono::milliseconds timeout,
              const std::string& session = {});

protected:
    Json compose(long id, const std::string& method, const Json& params,
                 const std::string& session) const override;
    void write(std::string text) override;

private:
    WebSocket();

    template <typename Done> void runWhile(Done&& done, Clock::time_point deadline);
    void writeNext();
    void readNext();
    void takeMessage();
    void take(std::string_view text);
    void dropWhenClosing();
    void fail();

    // The socket and its context, known to websocket.cpp alone: the headers
    // they come from cost every file that includes this one seconds to build.
    struct Stream;
    const std::unique_ptr<Stream> m_stream;
    std::deque<std::string> m_outbox;
    bool m_writing = false;
    bool m_open = false;
    bool m_refused = false;
    bool m_peerClosing = false;
};

} // namespace tavro::wire

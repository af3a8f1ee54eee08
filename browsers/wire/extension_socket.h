#pragma once

#include "browsers/wire/frames.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::wire {

using Json = nlohmann::json;
// Numbers each connection; never 0, never reused while the socket lives.
using ConnectionId = std::uint64_t;

using Clock = std::chrono::steady_clock;

// What the socket tells its owner. Each is called on the socket's own thread,
// never the caller's, one call at a time, so a handler must hand its news to
// the thread that wants it. A handler may call send() and drop().
struct ExtensionSocketEvents {
    // A host of this user's connected: one browser profile's extension.
    std::function<void(ConnectionId)> onConnected;
    // One message from it: a JSON object, as the extension sent it.
    std::function<void(ConnectionId, Json)> onMessage;
    // The connection ended, for whatever reason; once for each onConnected,
    // and never from the destructor.
    std::function<void(ConnectionId)> onClosed;
    // At every turn of the socket's thread, after what arrived was handled:
    // the owner's timed work, which returns when it next wants a turn.
    std::function<std::optional<Clock::time_point>(Clock::time_point now)> onTurn;
};

// The limits a connection is held to; tests make them small.
struct ExtensionSocketLimits {
    // A message begun and not finished within this is a peer that stalls.
    std::chrono::milliseconds messageDeadline{5000};
    // Messages the peer does not read pile up to this, then it is dropped.
    std::size_t unsentBytes = 16 * BrowserTakesAtMostBytes;
    // Connections beyond this are refused at once.
    int connections = 64;
};

// The program's end of the extension's host: a Unix stream socket in a folder
// of the user's own, served by a thread of its own, so that no peer ever holds
// up the caller. Only a peer that runs as the same user is taken. A peer is
// dropped, with nothing of the offending message delivered, when it sends a
// message longer than MaxMessageBytes (refused from its length alone), one that
// is not a JSON object or is nested deeper than 64 levels, or one that it
// starts and does not finish. The socket's thread owns every connection;
// other threads send, drop and execute() only.
class ExtensionSocket final {
public:
    // Listens at path (socketPath() gives the user's one). A socket file left
    // there by an ended program is replaced; raises an Error when the folder is
    // not the user's alone, another program listens there already, or the
    // socket cannot be made.
    ExtensionSocket(const std::string& path, ExtensionSocketEvents events, ExtensionSocketLimits limits = {});
    // The same, with the thread started only by start(): for an owner whose
    // handlers reach the socket itself, which a host may connect to at once.
    struct Deferred {};
    ExtensionSocket(const std::string& path, ExtensionSocketEvents events, ExtensionSocketLimits limits,
                    Deferred);
    void start();
    // Stops the thread, closes every connection and removes the socket file.
    ~ExtensionSocket();
    ExtensionSocket(const ExtensionSocket&) = delete;
    ExtensionSocket& operator=(const ExtensionSocket&) = delete;

    // Queues a message for the connection, from any thread. False when the
    // connection has ended or the message would be longer than
    // BrowserTakesAtMostBytes, which Chromium would not take; the connection
    // then stays as it is.
    bool send(ConnectionId connection, const Json& message);
    bool sendText(ConnectionId connection, std::string_view text);
    // From any thread: runs work on the socket's thread at its next turn.
    void execute(std::function<void()> work);
    // Ends the connection from any thread; onClosed follows.
    void drop(ConnectionId connection);

    const std::string& path() const;

    struct Server;

private:
    std::unique_ptr<Server> m_server;
};

} // namespace tavro::wire

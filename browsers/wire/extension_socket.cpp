#include "browsers/wire/extension_socket.h"

#include "browsers/wire/json_message.h"
#include "platform/error.h"
#include "platform/posix/peer_user.h"
#include "platform/posix/private_folder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavro::wire {

namespace {

// Read at most this much from one peer before the others get their turn.
constexpr std::size_t ReadChunk = 64 * 1024;
constexpr int ReadsPerTurn = 16;

[[noreturn]] void fail(int number, const std::string& what) {
    throw Error(number, what);
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        fail(errc::PathFileAccess, "Path/File access error: the socket's path is too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

bool someoneListens(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool reached = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return reached;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

struct Peer {
    explicit Peer(int socket) : fd(socket) {}

    int fd;
    // The socket's thread alone touches these.
    FrameReader reader;
    std::optional<Clock::time_point> messageStarted;
    // Shared with send() and drop(), under the server's mutex.
    std::string unsent;
    bool dropAsked = false;
};

} // namespace

struct ExtensionSocket::Server {
    Server(std::string socketPath, ExtensionSocketEvents handlers, ExtensionSocketLimits bounds)
        : path(std::move(socketPath)), events(std::move(handlers)), limits(bounds) {}

    void listen();
    void run();
    void acceptAll();
    // False when the connection was closed.
    bool readFrom(ConnectionId id, Peer& connection);
    bool deliver(ConnectionId id, Peer& connection, std::string text);
    void writeTo(Peer& connection);
    void close(ConnectionId id);
    void wake();
    int pollTimeout(Clock::time_point now);

    std::string path;
    ExtensionSocketEvents events;
    ExtensionSocketLimits limits;
    int listener = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopping{false};
    // Guards the map's shape and each connection's shared members; never held
    // while a handler runs, so that handlers may send.
    std::mutex mutex;
    std::map<ConnectionId, Peer> connections;
    ConnectionId lastId = 0;
    // Work handed over by other threads, under the mutex.
    std::vector<std::function<void()>> work;
    std::thread thread;
};

void ExtensionSocket::Server::listen() {
    const std::string folder = folderOf(path);
    const std::string why = ensurePrivateFolder(folder);
    if (!why.empty())
        fail(errc::PermissionDenied, "Permission denied: " + folder + ": " + why);
    const sockaddr_un address = addressOf(path);

    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            fail(errc::PathFileAccess, "Path/File access error: " + path + " is not a socket");
        // The program runs once per user, so a listener here is another
        // program's; a socket nobody listens on is a crashed run's leftover.
        if (someoneListens(address))
            fail(errc::PathFileAccess, "Path/File access error: another program listens at " + path);
        ::unlink(path.c_str());
    }

    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        const std::string reason = std::strerror(errno);
        if (listener >= 0)
            ::close(listener);
        fail(errc::PathFileAccess, "Path/File access error: cannot listen at " + path + ": " + reason);
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(listener);
        ::unlink(path.c_str());
        fail(errc::TooManyFiles, std::string("Too many files: ") + std::strerror(errno));
    }
    wakeRead = ends[0];
    wakeWrite = ends[1];
}

void ExtensionSocket::Server::wake() {
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite, &byte, 1);
}

int ExtensionSocket::Server::pollTimeout(Clock::time_point now) {
    std::optional<Clock::time_point> soonest = events.onTurn ? events.onTurn(now) : std::nullopt;
    for (const auto& [id, connection] : connections) {
        if (connection.messageStarted) {
            const auto due = *connection.messageStarted + limits.messageDeadline;
            soonest = soonest ? std::min(*soonest, due) : due;
        }
    }
    if (!soonest)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*soonest - now).count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left, 0, 60'000));
}

void ExtensionSocket::Server::run() {
    std::vector<pollfd> watched;
    std::vector<ConnectionId> ids;
    while (!stopping) {
        watched.assign({{wakeRead, POLLIN, 0}, {listener, POLLIN, 0}});
        ids.clear();
        {
            const std::lock_guard lock(mutex);
            for (const auto& [id, connection] : connections) {
                const auto wanted = static_cast<short>(POLLIN | (connection.unsent.empty() ? 0 : POLLOUT));
                watched.push_back({connection.fd, wanted, 0});
                ids.push_back(id);
            }
        }
        if (::poll(watched.data(), watched.size(), pollTimeout(Clock::now())) < 0 && errno != EINTR)
            break;
        if (stopping)
            break;
        char drained[64];
        while (::read(wakeRead, drained, sizeof drained) > 0) {
        }
        std::vector<std::function<void()>> handedOver;
        {
            const std::lock_guard lock(mutex);
            handedOver.swap(work);
        }
        for (auto& task : handedOver)
            task();
        if (watched[1].revents & POLLIN)
            acceptAll();

        for (std::size_t i = 0; i < ids.size(); ++i) {
            const ConnectionId id = ids[i];
            Peer* connection = nullptr;
            bool dropAsked = false;
            {
                const std::lock_guard lock(mutex);
                const auto it = connections.find(id);
                if (it == connections.end())
                    continue;
                connection = &it->second;
                dropAsked = connection->dropAsked;
            }
            const short revents = watched[i + 2].revents;
            if (dropAsked || (revents & (POLLERR | POLLNVAL))) {
                close(id);
                continue;
            }
            if ((revents & (POLLIN | POLLHUP)) && !readFrom(id, *connection))
                continue;
            if (connection->messageStarted &&
                Clock::now() - *connection->messageStarted > limits.messageDeadline)
                close(id);
        }
        // What a peer can take now, queued before the poll or while the loop read.
        {
            const std::lock_guard lock(mutex);
            for (auto& [id, connection] : connections)
                if (!connection.unsent.empty())
                    writeTo(connection);
        }
    }
}

void ExtensionSocket::Server::acceptAll() {
    for (;;) {
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (peer < 0)
            return;
        bool full = false;
        {
            const std::lock_guard lock(mutex);
            full = connections.size() >= static_cast<std::size_t>(limits.connections);
        }
        if (full || !peerIsThisUser(peer)) {
            ::close(peer);
            continue;
        }
        ConnectionId id = 0;
        {
            const std::lock_guard lock(mutex);
            id = ++lastId;
            connections.emplace(std::piecewise_construct, std::forward_as_tuple(id),
                                std::forward_as_tuple(peer));
        }
        if (events.onConnected)
            events.onConnected(id);
    }
}

bool ExtensionSocket::Server::readFrom(ConnectionId id, Peer& connection) {
    char chunk[ReadChunk];
    for (int turn = 0; turn < ReadsPerTurn; ++turn) {
        const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            // A message cut short by the end is never delivered.
            close(id);
            return false;
        }
        if (count < 0)
            return true;
        connection.reader.append(chunk, static_cast<std::size_t>(count));
        while (std::optional<std::string> text = connection.reader.next()) {
            if (!deliver(id, connection, std::move(*text)))
                return false;
        }
        if (connection.reader.fault() != FrameReader::Fault::None) {
            close(id);
            return false;
        }
        if (!connection.reader.midMessage())
            connection.messageStarted.reset();
        else if (!connection.messageStarted)
            connection.messageStarted = Clock::now();
    }
    return true;
}

bool ExtensionSocket::Server::deliver(ConnectionId id, Peer& connection, std::string text) {
    std::optional<Json> message = parseMessage(text);
    if (!message) {
        close(id);
        return false;
    }
    if (events.onMessage)
        events.onMessage(id, std::move(*message));
    bool dropped = false;
    {
        const std::lock_guard lock(mutex);
        dropped = connection.dropAsked;
    }
    // Dropped by the handler: nothing more of this peer is read.
    if (dropped)
        close(id);
    return !dropped;
}

void ExtensionSocket::Server::writeTo(Peer& connection) {
    // Called with the mutex held: send() appends to the same text.
    while (!connection.unsent.empty()) {
        const ssize_t sent = ::send(connection.fd, connection.unsent.data(), connection.unsent.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0)
            return;
        connection.unsent.erase(0, static_cast<std::size_t>(sent));
    }
}

void ExtensionSocket::Server::close(ConnectionId id) {
    {
        const std::lock_guard lock(mutex);
        const auto it = connections.find(id);
        if (it == connections.end())
            return;
        ::close(it->second.fd);
        connections.erase(it);
    }
    if (events.onClosed)
        events.onClosed(id);
}

ExtensionSocket::ExtensionSocket(const std::string& path, ExtensionSocketEvents events,
                                 ExtensionSocketLimits limits)
    : ExtensionSocket(path, std::move(events), limits, Deferred{}) {
    start();
}

ExtensionSocket::ExtensionSocket(const std::string& path, ExtensionSocketEvents events,
                                 ExtensionSocketLimits limits, Deferred)
    : m_server(std::make_unique<Server>(path, std::move(events), limits)) {
    m_server->listen();
}

void ExtensionSocket::start() {
    if (!m_server->thread.joinable())
        m_server->thread = std::thread([server = m_server.get()] { server->run(); });
}

ExtensionSocket::~ExtensionSocket() {
    m_server->stopping = true;
    m_server->wake();
    if (m_server->thread.joinable())
        m_server->thread.join();
    for (auto& [id, connection] : m_server->connections)
        ::close(connection.fd);
    ::close(m_server->listener);
    ::close(m_server->wakeRead);
    ::close(m_server->wakeWrite);
    ::unlink(m_server->path.c_str());
}

bool ExtensionSocket::send(ConnectionId connection, const Json& message) {
    // Text that is not UTF-8 reaches the extension as replacement characters,
    // where the browser would refuse the whole message.
    return sendText(connection, message.dump(-1, ' ', false, Json::error_handler_t::replace));
}

bool ExtensionSocket::sendText(ConnectionId connection, std::string_view text) {
    if (text.size() > BrowserTakesAtMostBytes)
        return false;
    {
        const std::lock_guard lock(m_server->mutex);
        const auto it = m_server->connections.find(connection);
        if (it == m_server->connections.end() || it->second.dropAsked)
            return false;
        it->second.unsent += frame(text);
        // A peer that reads nothing would hold the program's memory.
        if (it->second.unsent.size() > m_server->limits.unsentBytes)
            it->second.dropAsked = true;
        if (it->second.dropAsked) {
            m_server->wake();
            return false;
        }
    }
    m_server->wake();
    return true;
}

void ExtensionSocket::execute(std::function<void()> work) {
    {
        const std::lock_guard lock(m_server->mutex);
        m_server->work.push_back(std::move(work));
    }
    m_server->wake();
}

void ExtensionSocket::drop(ConnectionId connection) {
    {
        const std::lock_guard lock(m_server->mutex);
        const auto it = m_server->connections.find(connection);
        if (it == m_server->connections.end())
            return;
        it->second.dropAsked = true;
    }
    m_server->wake();
}

const std::string& ExtensionSocket::path() const {
    return m_server->path;
}

} // namespace tavro::wire

#include "tests/support/frame_peer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavro::testing {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

FramePeer::FramePeer(int fd) : m_fd(fd) {}

FramePeer::FramePeer(FramePeer&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FramePeer FramePeer::connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot connect to " + path + ": " + why);
    }
    return FramePeer(fd);
}

FramePeer::~FramePeer() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string FramePeer::header(std::uint32_t length) {
    std::string bytes(sizeof length, '\0');
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes;
}

bool FramePeer::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> FramePeer::readExactly(std::size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string bytes;
    while (bytes.size() < count) {
        pollfd watched{m_fd, POLLIN, 0};
        if (::poll(&watched, 1, msLeft(deadline)) <= 0)
            return std::nullopt;
        char chunk[65536];
        const ssize_t n = ::read(m_fd, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n <= 0)
            return std::nullopt;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::optional<std::string> FramePeer::readFrame(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::optional<std::string> head = readExactly(sizeof(std::uint32_t), timeoutMs);
    if (!head)
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, head->data(), sizeof length);
    return readExactly(length, msLeft(deadline));
}

bool FramePeer::endsWithin(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd watched{m_fd, POLLIN, 0};
        if (::poll(&watched, 1, msLeft(deadline)) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return true;
    }
}

void FramePeer::finishWriting() {
    ::shutdown(m_fd, SHUT_WR);
}

} // namespace tavro::testing

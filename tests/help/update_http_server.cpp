#include "tests/help/update_http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace tavro::fakes {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Binds a TCP socket to a free port of 127.0.0.1 and returns it with the port.
int bindLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("bind");
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("getsockname");
    port = ntohs(address.sin_port);
    return fd;
}

std::string reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return; // the client gave up; nothing more to tell it
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

} // namespace

LocalHttpServer::LocalHttpServer() {
    m_listener = bindLoopback(m_port);
    if (::listen(m_listener, 16) != 0)
        fail("listen");
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        fail("pipe");
    m_wakeRead = pipeEnds[0];
    m_wakeWrite = pipeEnds[1];
    m_thread = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &stop, 1);
    m_thread.join();
    for (const int fd : m_heldOpen)
        ::close(fd);
    ::close(m_listener);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

std::string LocalHttpServer::address() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void LocalHttpServer::script(const std::string& path, std::string rawAnswer) {
    const std::lock_guard lock(m_mutex);
    m_answers[path] = std::move(rawAnswer);
}

void LocalHttpServer::silent(const std::string& path) {
    const std::lock_guard lock(m_mutex);
    m_silentPaths.push_back(path);
}

std::vector<std::string> LocalHttpServer::requests() const {
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::string LocalHttpServer::answer(int status, std::string_view body, std::string_view headers) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
           "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

std::string LocalHttpServer::answerUntilClose(std::string_view body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + std::string(body);
}

void LocalHttpServer::serve() {
    for (;;) {
        pollfd waits[2] = {{m_listener, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if ((waits[1].revents & POLLIN) != 0)
            return;
        if ((waits[0].revents & POLLIN) != 0) {
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0)
                handle(connection);
        }
    }
}

void LocalHttpServer::handle(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd wait{connection, POLLIN, 0};
        if (::poll(&wait, 1, 5000) <= 0)
            break;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string line = request.substr(0, request.find("\r\n"));
    // "GET /path HTTP/1.1": the path is the second word.
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    const std::string path =
        first == std::string::npos ? std::string() : line.substr(first + 1, second - first - 1);

    std::string reply;
    bool silence = false;
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(line);
        silence = std::find(m_silentPaths.begin(), m_silentPaths.end(), path) != m_silentPaths.end();
        const auto it = m_answers.find(path);
        reply = it != m_answers.end() ? it->second : answer(404, "<html><body>Not Found</body></html>");
    }
    if (silence) {
        m_heldOpen.push_back(connection);
        return;
    }
    sendAll(connection, reply);
    ::shutdown(connection, SHUT_WR);
    ::close(connection);
}

RefusingPort::RefusingPort() {
    m_socket = bindLoopback(m_port);
}

RefusingPort::~RefusingPort() {
    ::close(m_socket);
}

std::string RefusingPort::address() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

} // namespace tavro::fakes

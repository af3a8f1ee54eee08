#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavro::fakes {

// A small HTTP server on 127.0.0.1 for the tests of the HTTP fetch. It answers
// each request path with bytes the test scripts, one request per connection,
// on its own thread. A path scripted as silent is accepted and never answered.
class LocalHttpServer {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // "http://127.0.0.1:<port>", without a trailing "/".
    std::string address() const;

    // The whole answer for a path, status line and headers included.
    void script(const std::string& path, std::string rawAnswer);
    // Accepts the connection, reads the request and then never answers.
    void silent(const std::string& path);

    // The request lines received so far ("GET /version.txt HTTP/1.1").
    std::vector<std::string> requests() const;

    // An answer with the status, a Content-Length and the body.
    static std::string answer(int status, std::string_view body, std::string_view headers = {});
    // A 200 answer without a Content-Length: the body ends when the connection does.
    static std::string answerUntilClose(std::string_view body);

private:
    void serve();
    void handle(int connection);

    int m_listener = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_answers;
    std::vector<std::string> m_silentPaths;
    std::vector<std::string> m_requests;
    std::vector<int> m_heldOpen;
    std::thread m_thread;
};

// A loopback port on which a connection is refused: bound, so nothing else
// takes it, but never listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string address() const;

private:
    int m_socket = -1;
    int m_port = 0;
};

} // namespace tavro::fakes

// The program's socket for the extension's host, run alone for the
// end-to-end scripts: it listens where the program would, writes what the
// socket tells as one JSON line each on its standard output, and sends what
// each line of its standard input asks for. It ends at the end of its input.
//
//   out: {"event":"connected","connection":1}
//        {"event":"message","connection":1,"message":{...}}
//        {"event":"closed","connection":1}
//   in:  {"connection":1,"message":{...}}
#include "browsers/wire/extension_socket.h"
#include "browsers/wire/socket_place.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

namespace {

using tavro::wire::ConnectionId;
using tavro::wire::Json;

std::mutex output;

void tell(const Json& line) {
    const std::lock_guard lock(output);
    std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

} // namespace

int main() {
    std::string why;
    const std::string path = tavro::wire::socketPath(&why);
    if (path.empty()) {
        std::fprintf(stderr, "extension_socket_peer: %s\n", why.c_str());
        return 1;
    }
    tavro::wire::ExtensionSocket socket(
        path, {[](ConnectionId id) {
                   tell({{"event", "connected"}, {"connection", id}});
               },
               [](ConnectionId id, Json message) {
                   tell({{"event", "message"}, {"connection", id}, {"message", std::move(message)}});
               },
               [](ConnectionId id) {
                   tell({{"event", "closed"}, {"connection", id}});
               },
               {}});
    tell({{"event", "listening"}, {"path", path}});
    std::string line;
    while (std::getline(std::cin, line)) {
        const Json request = Json::parse(line, nullptr, false);
        if (request.is_object() && request.contains("connection") && request.contains("message"))
            socket.send(request["connection"].get<ConnectionId>(), request["message"]);
    }
    return 0;
}

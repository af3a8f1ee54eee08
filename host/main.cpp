// The browser extension's native messaging host: the browser starts it for the
// extension and talks to it over its standard input and output; it relays each
// message, unchanged, to the running program over the program's per-user
// socket and back. Without the program it says so to the extension and ends,
// and the extension tries again later.
//
//   tavro-popup-blocker-host ORIGIN...
//
// Chromium passes the extension's origin, Firefox the host manifest's path
// and the extension's id; either is only logged.
#include "browsers/wire/socket_place.h"
#include "host/relay.h"
#include "platform/posix/peer_user.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The program's socket, connected, or -1 when the program does not listen
// there as this user.
int connectToProgram() {
    std::string why;
    const std::string path = tavro::wire::socketPath(&why);
    if (path.empty()) {
        std::fprintf(stderr, "tavro-popup-blocker-host: %s\n", why.c_str());
        return -1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !tavro::peerIsThisUser(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    // A side that went away shows as a failed write, not as the end of the host.
    std::signal(SIGPIPE, SIG_IGN);
    std::string caller;
    for (int i = 1; i < argc; ++i)
        caller += std::string(i > 1 ? " " : "") + argv[i];
    std::fprintf(stderr, "tavro-popup-blocker-host: started for %s\n", caller.c_str());

    const int program = connectToProgram();
    if (program < 0) {
        tavro::host::tellAbsent(STDOUT_FILENO);
        return 0;
    }
    const int status = tavro::host::relay(STDIN_FILENO, STDOUT_FILENO, program);
    ::close(program);
    return status;
}

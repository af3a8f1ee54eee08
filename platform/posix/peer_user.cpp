#include "platform/posix/peer_user.h"

#include <sys/socket.h>
#include <unistd.h>

namespace tavro {

bool peerIsThisUser(int socket) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return false;
    return length == sizeof peer && peer.uid == ::geteuid();
}

} // namespace tavro

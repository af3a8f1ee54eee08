#include "browsers/mirror/places.h"

#include "browsers/mirror/listeners.h"
#include "browsers/mirror/profile_files.h"
#include "platform/error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::browsers {

namespace {

constexpr std::chrono::seconds FirstRest{2};
constexpr int MaxDoublings = 5;

// Whether a listener may hold the port on the loopback address: the address
// cannot be had while one does. Binding costs a system call or two, where
// the socket tables cost milliseconds; and unlike a connection, it tells the
// listener nothing.
bool somethingListens(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // the tables will tell
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
    ::close(fd);
    return taken;
}

} // namespace

bool PlaceBackoff::resting(const std::string& place, Clock::time_point now) const {
    const auto it = m_places.find(place);
    return it != m_places.end() && now < it->second.until;
}

void PlaceBackoff::failed(const std::string& place, Clock::time_point now) {
    Rest& rest = m_places[place];
    rest.failures = std::min(rest.failures + 1, MaxDoublings);
    rest.until = now + FirstRest * (1 << (rest.failures - 1));
}

Found connectToFirst(const std::vector<Place>& places, PlaceBackoff& backoff,
                     std::chrono::milliseconds timeoutEach) {
    for (const Place& place : places) {
        if (backoff.resting(place.name, Clock::now()))
            continue;
        const std::optional<Endpoint> endpoint = place.locate();
        // A browser that was killed leaves its file behind, naming a closed
        // port; another user's listener there is no browser of ours. Who
        // listens is read from the system's socket tables, which costs far
        // more than asking the port: that is done only where something does.
        if (!endpoint || !somethingListens(endpoint->port) || portListener(endpoint->port) != Listener::Own)
            continue;
        try {
            const std::string path = endpoint->path.empty() && place.askPath
                                         ? place.askPath(endpoint->port, timeoutEach)
                                         : endpoint->path;
            if (path.empty())
                continue;
            Found found{WebSocket::open(endpoint->port, path, timeoutEach), place.name};
            return found;
        } catch (const Error&) {
            backoff.failed(place.name, Clock::now());
        }
    }
    return {};
}

std::string profileFolder(const std::string& name) {
    const std::string data = programDataFolder();
    return data.empty() ? std::string() : data + "/" + name;
}

} // namespace tavro::browsers

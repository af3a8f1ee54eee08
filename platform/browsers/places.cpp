#include "platform/browsers/places.h"

#include "platform/browsers/listeners.h"
#include "platform/browsers/profile_files.h"
#include "platform/error.h"

#include <algorithm>

namespace tavro::browsers {

namespace {

constexpr std::chrono::seconds FirstRest{2};
constexpr int MaxDoublings = 5;

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
        // port; another user's listener there is no browser of ours.
        if (!endpoint || portListener(endpoint->port) != Listener::Own)
            continue;
        try {
            const std::string path = endpoint->path.empty() && place.askPath
                                         ? place.askPath(endpoint->port, timeoutEach)
                                         : endpoint->path;
            if (path.empty())
                continue;
            Found found{Connection::open(endpoint->port, path, timeoutEach), place.name};
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

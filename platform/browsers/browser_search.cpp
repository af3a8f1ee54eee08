#include "platform/browsers/browser_search.h"

#include <algorithm>
#include <exception>

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

BrowserSearch::~BrowserSearch() {
    if (m_running.valid())
        m_running.wait();
}

std::unique_ptr<Connection> BrowserSearch::search() {
    try {
        return m_find(m_backoff);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::unique_ptr<Connection> BrowserSearch::take(std::chrono::milliseconds patience) {
    // A search that found nothing is followed by a fresh one at once, so a
    // browser that has started since is found by the next look.
    if (m_running.valid() && m_running.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        if (std::unique_ptr<Connection> found = m_running.get())
            return found;
    }
    if (!m_running.valid())
        m_running = std::async(std::launch::async, [this] { return search(); });
    if (m_running.wait_for(patience) != std::future_status::ready)
        return nullptr;
    return m_running.get();
}

std::unique_ptr<Connection> BrowserSearch::finish() {
    return m_running.valid() ? m_running.get() : nullptr;
}

} // namespace tavro::browsers

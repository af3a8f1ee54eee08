#include "platform/cdp/browser_search.h"

#include <exception>

namespace tavro::cdp {

BrowserSearch::~BrowserSearch() {
    if (m_running.valid())
        m_running.wait();
}

std::unique_ptr<Connection> BrowserSearch::search() {
    try {
        return connectToBrowser(m_places, m_timeoutEach, &m_backoff);
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

} // namespace tavro::cdp

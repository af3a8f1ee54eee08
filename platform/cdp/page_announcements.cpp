#include "platform/cdp/page_announcements.h"

#include "platform/cdp/answers.h"

#include <utility>

namespace tavro::cdp {

namespace {

// "scheme://host...": an address whose page has a domain to judge.
bool hasHost(const std::string& url) {
    const auto scheme = url.find("://");
    return scheme != std::string::npos && scheme + 3 < url.size() && url[scheme + 3] != '/';
}

std::string destroyedTarget(const Json& event) {
    const auto method = event.find("method");
    if (method == event.end() || *method != "Target.targetDestroyed")
        return {};
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return {};
    const auto id = params->find("targetId");
    return id != params->end() && id->is_string() ? id->get<std::string>() : std::string();
}

} // namespace

PageAnnouncements::PageAnnouncements(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {
    m_link->onConnected = [this](Connection& c) { listenOn(c); };
}

PageAnnouncements::~PageAnnouncements() {
    m_link->onConnected = nullptr;
    if (Connection* c = m_link->openConnection()) {
        c->onEvent = nullptr;
        c->onClosed = nullptr;
    }
}

void PageAnnouncements::listenOn(Connection& c) {
    m_addresses.clear();
    // The socket's watcher lets it go before its number can be used again.
    c.onClosed = [this] { tell(); };
    if (!m_muted) {
        c.onEvent = [this](const Json& event) { hear(event); };
        c.post("Target.setDiscoverTargets", {{"discover", true}});
    }
    // A new handle to watch.
    tell();
}

void PageAnnouncements::hear(const Json& event) {
    if (const std::string gone = destroyedTarget(event); !gone.empty()) {
        m_addresses.erase(gone);
        return;
    }
    const auto page = announcedPage(event);
    if (!page || !hasHost(page->url))
        return;
    const std::size_t address = std::hash<std::string>{}(page->url);
    const auto [known, added] = m_addresses.try_emplace(page->id, address);
    if (!added && known->second == address)
        return;
    known->second = address;
    m_news = true;
    tell();
}

void PageAnnouncements::tell() {
    if (m_listener)
        m_listener();
}

int PageAnnouncements::watchHandle() {
    Connection* c = m_link->openConnection();
    return c != nullptr ? c->nativeHandle() : -1;
}

void PageAnnouncements::readArrived() {
    if (Connection* c = m_link->openConnection())
        c->poll();
}

bool PageAnnouncements::takeNews() {
    return std::exchange(m_news, false);
}

} // namespace tavro::cdp

#include "platform/browsers/page_news.h"

#include <utility>

namespace tavro::browsers {

namespace {

// "scheme://host...": an address whose page has a domain to judge.
bool hasHost(const std::string& url) {
    const auto scheme = url.find("://");
    return scheme != std::string::npos && scheme + 3 < url.size() && url[scheme + 3] != '/';
}

} // namespace

PageNews::PageNews(std::function<websocket::Connection*()> openConnection)
    : m_openConnection(std::move(openConnection)) {}

void PageNews::heardAddress(const std::string& page, const std::string& url) {
    if (!hasHost(url))
        return;
    const std::size_t address = std::hash<std::string>{}(url);
    const auto [known, added] = m_addresses.try_emplace(page, address);
    if (!added && known->second == address)
        return;
    known->second = address;
    if (m_muted)
        return;
    m_news = true;
    tell();
}

void PageNews::startOver() {
    m_addresses.clear();
    tell();
}

void PageNews::tell() {
    if (m_listener)
        m_listener();
}

int PageNews::watchHandle() {
    websocket::Connection* c = m_openConnection();
    return c != nullptr ? c->nativeHandle() : -1;
}

void PageNews::readArrived() {
    if (websocket::Connection* c = m_openConnection())
        c->poll();
}

bool PageNews::takeNews() {
    return std::exchange(m_news, false);
}

} // namespace tavro::browsers

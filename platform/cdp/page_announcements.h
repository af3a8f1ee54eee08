#pragma once

#include "platform/browser.h"
#include "platform/cdp/browser_link.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tavro::cdp {

// The browser's own notices of its pages (target discovery), asked for on
// every new connection. News is a page opened by script that has an address
// with a host, new or changed: a page without one yet has nothing to scan,
// and its address arriving is news of its own.
class PageAnnouncements final : public BrowserNews {
public:
    explicit PageAnnouncements(std::shared_ptr<BrowserLink> link);
    ~PageAnnouncements() override;
    PageAnnouncements(const PageAnnouncements&) = delete;
    PageAnnouncements& operator=(const PageAnnouncements&) = delete;

    void setListener(std::function<void()> listener) override { m_listener = std::move(listener); }
    int watchHandle() override;
    void readArrived() override;
    bool takeNews() override;

    // Stops asking new connections for notices, as a browser that sends none.
    void mute() { m_muted = true; }

private:
    void listenOn(Connection& c);
    void hear(const Json& event);
    void tell();

    std::shared_ptr<BrowserLink> m_link;
    std::function<void()> m_listener;
    // The last address heard of each page opened by script, as a hash: an
    // address may be megabytes long.
    std::map<std::string, std::size_t> m_addresses;
    bool m_news = false;
    bool m_muted = false;
};

} // namespace tavro::cdp

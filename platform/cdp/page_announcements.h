#pragma once

#include "platform/browsers/page_news.h"
#include "platform/cdp/browser_link.h"

#include <memory>

namespace tavro::cdp {

// The browser's own notices of its pages (target discovery), asked for on
// every new connection unless muted.
class PageAnnouncements final : public browsers::PageNews {
public:
    explicit PageAnnouncements(std::shared_ptr<BrowserLink> link);
    ~PageAnnouncements() override;
    PageAnnouncements(const PageAnnouncements&) = delete;
    PageAnnouncements& operator=(const PageAnnouncements&) = delete;

private:
    void listenOn(Connection& c);
    void hear(const Json& event);

    std::shared_ptr<BrowserLink> m_link;
};

} // namespace tavro::cdp

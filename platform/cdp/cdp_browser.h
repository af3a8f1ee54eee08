#pragma once

#include "platform/browser.h"
#include "platform/cdp/browser_link.h"
#include "platform/cdp/page_announcements.h"

#include <memory>
#include <vector>

namespace tavro::cdp {

// The user's Chromium-family browser, reached through its DevTools Protocol on
// the loopback interface.
class CdpBrowserAutomation final : public BrowserAutomation {
public:
    explicit CdpBrowserAutomation(BrowserPlaces places = defaultBrowserPlaces(), Timeouts timeouts = {});

    // The browser's pages; raises an Error when no browser answers. The
    // collection finds a restarted browser again by itself.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the connected browser; raises an Error when no browser
    // answers.
    std::unique_ptr<NewBrowser> createBrowser() override;
    // The browser's notices of pages opened by script.
    std::vector<BrowserNews*> news() override { return {&m_announcements}; }
    PageAnnouncements& announcements() { return m_announcements; }

    BrowserLink& link() { return *m_link; }

private:
    std::shared_ptr<BrowserLink> m_link;
    PageAnnouncements m_announcements{m_link};
};

} // namespace tavro::cdp

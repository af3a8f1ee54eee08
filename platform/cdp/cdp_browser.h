#pragma once

#include "platform/browser.h"
#include "platform/cdp/browser_link.h"
#include "platform/cdp/page_announcements.h"
#include "platform/posix/desktop_opener.h"

#include <memory>
#include <string>

namespace tavro::cdp {

// The user's Chromium-family browser, reached through its DevTools Protocol on
// the loopback interface.
class CdpBrowserAutomation final : public BrowserAutomation {
public:
    explicit CdpBrowserAutomation(BrowserPlaces places = defaultBrowserPlaces(), Timeouts timeouts = {},
                                  std::string desktopOpener = "xdg-open");

    // The browser's pages; raises an Error when no browser answers. The
    // collection finds a restarted browser again by itself.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the connected browser, or else of the user's default
    // browser; raises an Error when neither can be had.
    std::unique_ptr<NewBrowser> createBrowser() override;
    // The browser's notices of pages opened by script.
    PageAnnouncements* news() override { return &m_announcements; }

    BrowserLink& link() { return *m_link; }

private:
    std::shared_ptr<BrowserLink> m_link;
    PageAnnouncements m_announcements{m_link};
    std::shared_ptr<DesktopOpener> m_opener;
};

} // namespace tavro::cdp

#pragma once

#include "platform/browsers/mirrored_browser.h"
#include "platform/cdp/discovery.h"

namespace tavro::cdp {

using browsers::Timeouts;

// The user's Chromium-family browser, reached through its DevTools Protocol on
// the loopback interface, and watched from the moment this is made.
class CdpBrowserAutomation final : public browsers::MirroredBrowser {
public:
    explicit CdpBrowserAutomation(BrowserPlaces places = defaultBrowserPlaces(), Timeouts timeouts = {});
};

} // namespace tavro::cdp

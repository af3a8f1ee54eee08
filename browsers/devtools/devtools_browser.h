#pragma once

#include "browsers/devtools/discovery.h"
#include "browsers/mirror/mirrored_browser.h"

namespace tavro::devtools {

using browsers::Timeouts;

// The user's Chromium-family browser, reached through its DevTools Protocol on
// the loopback interface, and watched from the moment this is made.
class DevToolsBrowserAutomation final : public browsers::MirroredBrowser {
public:
    explicit DevToolsBrowserAutomation(BrowserPlaces places = defaultBrowserPlaces(), Timeouts timeouts = {});
};

} // namespace tavro::devtools

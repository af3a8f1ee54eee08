#include "browsers/devtools/devtools_browser.h"

#include "browsers/devtools/devtools_protocol.h"

namespace tavro::devtools {

DevToolsBrowserAutomation::DevToolsBrowserAutomation(BrowserPlaces places, Timeouts timeouts)
    : MirroredBrowser(placesOf(places), std::make_unique<DevToolsProtocol>(), timeouts,
                      "No browser with a debugging port has been found") {}

} // namespace tavro::devtools

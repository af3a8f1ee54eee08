#include "platform/cdp/cdp_browser.h"

#include "platform/cdp/devtools_protocol.h"

namespace tavro::cdp {

CdpBrowserAutomation::CdpBrowserAutomation(BrowserPlaces places, Timeouts timeouts)
    : MirroredBrowser(std::make_unique<DevToolsProtocol>(std::move(places)), timeouts,
                      "No browser with a debugging port has been found") {}

} // namespace tavro::cdp

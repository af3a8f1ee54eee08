#include "platform/bidi/bidi_browser.h"

#include "platform/bidi/bidi_protocol.h"

namespace tavro::bidi {

BidiBrowserAutomation::BidiBrowserAutomation(FirefoxPlaces places, Timeouts timeouts)
    : MirroredBrowser(std::make_unique<BidiProtocol>(std::move(places), timeouts.session), timeouts,
                      "No Firefox with a debugging port has served us a session yet") {}

} // namespace tavro::bidi

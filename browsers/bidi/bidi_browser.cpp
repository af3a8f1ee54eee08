#include "browsers/bidi/bidi_browser.h"

#include "browsers/bidi/bidi_protocol.h"

namespace tavro::bidi {

BidiBrowserAutomation::BidiBrowserAutomation(FirefoxPlaces places, Timeouts timeouts)
    : MirroredBrowser(placesOf(places), std::make_unique<BidiProtocol>(timeouts.session), timeouts,
                      "No Firefox with a debugging port has served us a session yet") {}

} // namespace tavro::bidi

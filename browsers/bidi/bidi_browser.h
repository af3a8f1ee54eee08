#pragma once

#include "browsers/bidi/discovery.h"
#include "browsers/mirror/mirrored_browser.h"

namespace tavro::bidi {

using browsers::Timeouts;

// The user's Firefox, reached through WebDriver BiDi on the loopback
// interface, and watched from the moment this is made. Firefox serves one
// session at a time: while another client holds it, that Firefox reads as
// absent and is asked again later, less often each time. The session is
// ended when this goes, so another client can have it then.
class BidiBrowserAutomation final : public browsers::MirroredBrowser {
public:
    explicit BidiBrowserAutomation(FirefoxPlaces places = defaultFirefoxPlaces(), Timeouts timeouts = {});
};

} // namespace tavro::bidi

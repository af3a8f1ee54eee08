#pragma once

#include "tests/support/page_server.h"

namespace tavro::testing {

// The pages of the browser tests: an opener page at /opener.html that opens
// what its query names as soon as it loads (?open=popup, samesite, two, tab,
// noopener, navigate, alert, loop, svg, text), and the pages it opens.
void servePages(PageServer& server);

} // namespace tavro::testing

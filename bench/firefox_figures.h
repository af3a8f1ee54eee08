#pragma once

#include "tests/support/page_server.h"

namespace tavro::bench {

struct FirefoxRun {
    int popups = 60;
    // The stretch of the CPU figures and the rounds it is cut into.
    int seconds = 60;
    int rounds = 3;
    bool cpuOnly = false;
};

// Starts Firefox on a virtual display of its own and prints its tick times,
// pop-up lifetimes and CPU times; the server must serve /tab.html, /ad.html
// and /opener.html?n=N (a page that opens N pop-ups at odd moments).
void firefoxFigures(testing::PageServer& server, const FirefoxRun& run);

} // namespace tavro::bench

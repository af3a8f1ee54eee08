#pragma once

#include "tests/support/page_server.h"

#include <functional>
#include <vector>

namespace tavro::bench {

struct Summary {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Summary summarise(std::vector<double> values);

// Five ticks to settle, then forty timed 20 ms apart; tick returns its time.
Summary timeTicks(const std::function<double()>& tick);

// Starts Firefox on a virtual display of its own and prints its tick times
// and pop-up lifetimes; the server must serve /tab.html and /ad.html.
void firefoxFigures(testing::PageServer& server, int popups);

} // namespace tavro::bench

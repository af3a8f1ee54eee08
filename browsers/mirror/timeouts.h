#pragma once

#include <chrono>

namespace tavro::browsers {

// The longest a browser is kept holding a new page before its first request
// while the scan's verdict is awaited (a window thread that has stalled, say):
// the page is then let go, and closed after it loads if the verdict says so.
inline constexpr std::chrono::milliseconds HoldFor{500};

// How long the program waits for a browser. Every wait happens on the
// browser's own thread; these bound how long that thread waits, and how soon
// what a browser failed to say is taken as not coming.
struct Timeouts {
    // Connecting to one place where a browser may be.
    std::chrono::milliseconds connect{300};
    // How long a walk waits for a browser to be found. None in the program:
    // the next tick finds what the browser's thread has found by then. Tests
    // that want the browser at the first tick wait.
    std::chrono::milliseconds search{0};
    // A browser that has been quiet answers a cheap question within this, or
    // it is taken to have stopped and is let go.
    std::chrono::milliseconds browser{2000};
    // Going into pages: a page that shows alert() or runs an endless script
    // never answers; after this it is judged as one that cannot.
    std::chrono::milliseconds page{60};
    // Starting a session, which a Firefox that is busy starting up or running
    // an endless script may take seconds to do.
    std::chrono::milliseconds session{30000};
};

} // namespace tavro::browsers

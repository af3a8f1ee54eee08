#pragma once

#include <chrono>

namespace tavro::browsers {

// How long the program waits for a browser; everything but a search for the
// browser runs on the user-interface thread, so these bound how long a tick
// can take.
struct Timeouts {
    // Connecting to one place where a browser may be.
    std::chrono::milliseconds connect{300};
    // How long a tick waits for a search under way, where the browser is
    // looked for on a thread of its own. None in the program: a browser that
    // has not answered yet has not proved to be one, and the next tick takes
    // what the search found. Tests that want the browser at the first tick wait.
    std::chrono::milliseconds search{0};
    // A call the browser answers itself (the pages, their windows, a close).
    std::chrono::milliseconds browser{500};
    // Going into pages: a page that shows alert() or runs an endless script
    // never answers, and a tick waits no longer than this for all of them.
    std::chrono::milliseconds page{60};
    // Opening a new browser window for the user.
    std::chrono::milliseconds newWindow{3000};
};

} // namespace tavro::browsers

#pragma once

#include "browsers/mirror/browser_link.h"
#include "tests/support/browser_driver.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tavro::testing {

// The test's hands in a test Firefox. Firefox serves one session at a time,
// so the driver works through the session of the adapter under test; it
// lays out pages and reads what is left of them with its own questions.
class FirefoxDriver final {
public:
    explicit FirefoxDriver(browsers::BrowserLink& link) : m_link(link) {}

    // Every top-level page, with its title when the page answers in time
    // (a page in an endless script has none).
    std::vector<TestPage> pages();
    // Opens url in a new tab and returns its context id.
    std::string open(const std::string& url);
    // Closes every page but one new tab at keepUrl, so each test starts alike.
    void reset(const std::string& keepUrl);
    // Waits until pred holds for the pages, asking every 50 ms; false on timeout.
    bool waitFor(const std::function<bool(const std::vector<TestPage>&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    wire::Json call(const std::string& method, const wire::Json& params);

    browsers::BrowserLink& m_link;
};

} // namespace tavro::testing

#pragma once

#include "browsers/mirror/page_mirror.h"
#include "browsers/wire/websocket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::testing {

// A page as the test sees it through its own connection.
struct TestPage {
    std::string id;
    std::string url;
    std::string title;
    std::string openerId;
    bool canAccessOpener = false;
};

// The test's own DevTools connection to a test browser: it lays out pages
// and looks at what is left of them, independently of the adapter under test.
class BrowserDriver final {
public:
    explicit BrowserDriver(const std::string& portFile);

    std::vector<TestPage> pages();
    // Opens url in a new tab (or a new window) and returns its target id.
    std::string open(const std::string& url, bool newWindow = false);
    void close(const std::string& id);
    // Closes every page but one new tab at keepUrl, so each test starts alike.
    void reset(const std::string& keepUrl);
    // The browser window that shows the page.
    long windowOf(const std::string& id);

    // Waits until pred holds for the pages, asking every 50 ms; false on timeout.
    bool waitFor(const std::function<bool(const std::vector<TestPage>&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The pages whose address contains text.
    static std::vector<TestPage> matching(const std::vector<TestPage>& pages, const std::string& text);
    // The pages that have loaded a document with this title.
    static std::vector<TestPage> titled(const std::vector<TestPage>& pages, const std::string& title);

    wire::WebSocket& connection() { return *m_connection; }

private:
    std::unique_ptr<wire::WebSocket> m_connection;
};

// Waits until the mirror holds every page the test sees (at the address it
// sees, where sameAddress) and has no question out about any: a tick then
// reads all the browser has told of them. False on timeout, or at once
// while no browser serves.
bool caughtUp(const browsers::PageMirror& mirror, const std::function<std::vector<TestPage>()>& pages,
              bool sameAddress, std::chrono::milliseconds timeout = std::chrono::seconds(3));

} // namespace tavro::testing

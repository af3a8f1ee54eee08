#include "tests/support/browser_driver.h"

#include "browsers/devtools/discovery.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace tavro::testing {

using namespace std::chrono_literals;

BrowserDriver::BrowserDriver(const std::string& portFile) {
    const auto endpoint = devtools::readPortFile(portFile);
    if (!endpoint)
        throw std::runtime_error("no DevToolsActivePort at " + portFile);
    m_connection = wire::WebSocket::open(endpoint->port, endpoint->path, 5s);
}

std::vector<TestPage> BrowserDriver::pages() {
    const wire::Json result =
        m_connection->call("Target.getTargets", {{"filter", wire::Json::array({{{"type", "page"}}})}}, 5s);
    std::vector<TestPage> out;
    for (const wire::Json& info : result["targetInfos"]) {
        if (info.value("type", "") != "page" || info.contains("subtype"))
            continue;
        out.push_back(TestPage{info.value("targetId", ""), info.value("url", ""), info.value("title", ""),
                               info.value("openerId", ""), info.value("canAccessOpener", false)});
    }
    return out;
}

std::string BrowserDriver::open(const std::string& url, bool newWindow) {
    const wire::Json result =
        m_connection->call("Target.createTarget", {{"url", url}, {"newWindow", newWindow}}, 10s);
    return result.value("targetId", "");
}

void BrowserDriver::close(const std::string& id) {
    try {
        m_connection->call("Target.closeTarget", {{"targetId", id}}, 5s);
    } catch (const std::exception&) {
        // Already gone.
    }
}

void BrowserDriver::reset(const std::string& keepUrl) {
    const std::string keep = open(keepUrl);
    for (const TestPage& page : pages()) {
        if (page.id != keep)
            close(page.id);
    }
    waitFor([&](const std::vector<TestPage>& now) { return now.size() == 1; });
}

long BrowserDriver::windowOf(const std::string& id) {
    return m_connection->call("Browser.getWindowForTarget", {{"targetId", id}}, 5s).value("windowId", -1L);
}

bool BrowserDriver::waitFor(const std::function<bool(const std::vector<TestPage>&)>& pred,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred(pages()))
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

std::vector<TestPage> BrowserDriver::matching(const std::vector<TestPage>& pages, const std::string& text) {
    std::vector<TestPage> out;
    for (const TestPage& page : pages) {
        if (page.url.find(text) != std::string::npos)
            out.push_back(page);
    }
    return out;
}

} // namespace tavro::testing

namespace tavro::testing {

std::vector<TestPage> BrowserDriver::titled(const std::vector<TestPage>& pages, const std::string& title) {
    std::vector<TestPage> out;
    for (const TestPage& page : pages) {
        if (page.title == title)
            out.push_back(page);
    }
    return out;
}

bool caughtUp(const browsers::PageMirror& mirror, const std::function<std::vector<TestPage>()>& pages,
              bool sameAddress, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (mirror.connected() && std::chrono::steady_clock::now() < deadline) {
        std::vector<TestPage> seen;
        try {
            seen = pages();
        } catch (const std::exception&) {
            return false; // the browser has gone: nothing more to hear
        }
        const bool all = std::all_of(seen.begin(), seen.end(), [&](const TestPage& page) {
            const auto address = mirror.address(page.id);
            return address && (!sameAddress || *address == page.url);
        });
        if (all && mirror.settled())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace tavro::testing

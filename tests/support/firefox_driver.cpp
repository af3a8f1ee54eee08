#include "tests/support/firefox_driver.h"

#include "platform/error.h"

#include <thread>

namespace tavro::testing {

namespace {

using namespace std::chrono_literals;
using wire::Clock;
using wire::Json;

} // namespace

Json FirefoxDriver::call(const std::string& method, const Json& params) {
    // A Firefox that has just started, beside others under the sanitizers,
    // takes seconds to serve its first session.
    return m_link.call(method, params, 20s);
}

std::vector<TestPage> FirefoxDriver::pages() {
    const Json tree = call("browsingContext.getTree", {{"maxDepth", 0}});
    std::vector<TestPage> pages;
    for (const Json& context : tree.at("contexts")) {
        TestPage page;
        page.id = context.at("context").get<std::string>();
        page.url = context.value("url", std::string());
        if (context.contains("originalOpener") && context["originalOpener"].is_string())
            page.openerId = context["originalOpener"].get<std::string>();
        try {
            const Json title = m_link.call("script.evaluate",
                                           {{"expression", "document.title"},
                                            {"target", {{"context", page.id}}},
                                            {"awaitPromise", false}},
                                           150ms);
            page.title = title.value("result", Json::object()).value("value", std::string());
        } catch (const Error&) {
            // A page in an endless script has no title to give.
        }
        pages.push_back(page);
    }
    return pages;
}

std::string FirefoxDriver::open(const std::string& url) {
    const std::string id = call("browsingContext.create", {{"type", "tab"}}).at("context").get<std::string>();
    call("browsingContext.navigate", {{"context", id}, {"url", url}, {"wait", "none"}});
    return id;
}

void FirefoxDriver::reset(const std::string& keepUrl) {
    const std::vector<TestPage> before = pages();
    open(keepUrl);
    for (const TestPage& page : before)
        call("browsingContext.close", {{"context", page.id}});
}

bool FirefoxDriver::waitFor(const std::function<bool(const std::vector<TestPage>&)>& pred,
                            std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        if (pred(pages()))
            return true;
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

} // namespace tavro::testing

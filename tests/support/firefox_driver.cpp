#include "tests/support/firefox_driver.h"

#include <thread>

namespace tavro::testing {

namespace {

using namespace std::chrono_literals;
using websocket::Clock;
using websocket::Json;

} // namespace

Json FirefoxDriver::call(const std::string& method, const Json& params) {
    return m_link.connection().call(method, params, 5s);
}

std::vector<TestPage> FirefoxDriver::pages() {
    websocket::Connection& c = m_link.connection();
    const Json tree = call("browsingContext.getTree", {{"maxDepth", 0}});
    std::vector<TestPage> pages;
    std::vector<long> titles;
    for (const Json& context : tree.at("contexts")) {
        TestPage page;
        page.id = context.at("context").get<std::string>();
        page.url = context.value("url", std::string());
        if (context.contains("originalOpener") && context["originalOpener"].is_string())
            page.openerId = context["originalOpener"].get<std::string>();
        pages.push_back(page);
        titles.push_back(c.send(
            "script.evaluate",
            {{"expression", "document.title"}, {"target", {{"context", page.id}}}, {"awaitPromise", false}}));
    }
    c.wait(titles, Clock::now() + 300ms);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto answer = c.take(titles[i]);
        c.forget(titles[i]);
        if (answer && answer->contains("result"))
            pages[i].title =
                (*answer)["result"].value("result", Json::object()).value("value", std::string());
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

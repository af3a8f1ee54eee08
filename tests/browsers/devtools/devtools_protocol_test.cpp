// The DevTools adapter against a scripted browser that tells of its pages as
// Chromium's target discovery does: the scan reads what the browser told,
// never waits for a page that does not answer, and a peer that floods the
// program with pages is let go.

#include "blocking/popup_scan.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/devtools/devtools_protocol.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/support/detached_channel.h"
#include "tests/support/scripted_endpoint.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace tavro::devtools {
namespace {

using namespace std::chrono_literals;
using testing::answerTo;
using testing::ScriptedEndpoint;

// A page of the scripted browser and what the browser answers about it.
struct ScriptedPage {
    std::string id;
    std::string url;
    // Empty for a page the user opened; its opener can reach it otherwise.
    std::string openerId;
    long window = 1;
    // What the page says it shows; it never answers when empty, as a page
    // showing alert() does.
    std::string mimeType = "text/html";
};

// A tab the user opened, a tab its script opened (same window, showing an SVG
// image), and a pop-up window of its own whose page never answers.
std::vector<ScriptedPage> threePages() {
    return {{"USER", "http://site.example/", "", 1, ""},
            {"TAB", "http://img.example/x.svg", "USER", 1, "image/svg+xml"},
            {"POPUP", "http://ads.example/win.html", "USER", 2, ""}};
}

Json targetInfo(const ScriptedPage& page) {
    Json info = {{"type", "page"},      {"attached", false}, {"title", ""},
                 {"targetId", page.id}, {"url", page.url},   {"canAccessOpener", !page.openerId.empty()}};
    if (!page.openerId.empty())
        info["openerId"] = page.openerId;
    return info;
}

// A browser whose pages are laid out by the test and told of as discovery
// starts; a page asked to close is gone, and told to be.
class ScriptedBrowser {
public:
    explicit ScriptedBrowser(std::vector<ScriptedPage> pages = threePages())
        : m_pages(std::move(pages)),
          m_endpoint([this](const Json& request,
                            const ScriptedEndpoint::Reply& reply) { return answer(request, reply); },
                     R"({"webSocketDebuggerUrl":"ws://127.0.0.1/devtools/browser/test"})") {}

    BrowserPlaces places() const { return {{}, {m_endpoint.port()}}; }
    std::size_t requests(const std::string& method) {
        const std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_requests.begin(), m_requests.end(), method));
    }
    int connections() const { return m_endpoint.connections(); }

private:
    const ScriptedPage* find(const Json& targetId) const {
        const auto page = std::find_if(m_pages.begin(), m_pages.end(),
                                       [&](const ScriptedPage& p) { return p.id == targetId; });
        return page == m_pages.end() ? nullptr : &*page;
    }

    bool answer(const Json& request, const ScriptedEndpoint::Reply& reply) {
        const std::string method = request["method"];
        {
            const std::lock_guard lock(m_mutex);
            m_requests.push_back(method);
        }
        const Json& params = request["params"];
        if (method == "Target.setDiscoverTargets") {
            for (const ScriptedPage& page : m_pages)
                reply({{"method", "Target.targetCreated"}, {"params", {{"targetInfo", targetInfo(page)}}}});
        } else if (method == "Browser.getWindowForTarget") {
            if (const ScriptedPage* page = find(params["targetId"]))
                return reply(answerTo(request, {{"windowId", page->window}})), true;
        } else if (method == "Target.attachToTarget") {
            return reply(answerTo(request, {{"sessionId", "S-" + params["targetId"].get<std::string>()}})),
                   true;
        } else if (method == "Page.getFrameTree") {
            const ScriptedPage* page = find(request["sessionId"].get<std::string>().substr(2));
            if (page == nullptr || page->mimeType.empty())
                return true;
            return reply(answerTo(request, {{"frameTree", {{"frame", {{"mimeType", page->mimeType}}}}}})),
                   true;
        } else if (method == "Target.closeTarget") {
            std::erase_if(m_pages, [&](const ScriptedPage& page) { return page.id == params["targetId"]; });
            reply({{"method", "Target.targetDestroyed"}, {"params", {{"targetId", params["targetId"]}}}});
        }
        if (request.contains("id"))
            reply(answerTo(request, Json::object()));
        return true;
    }

    // Touched by the endpoint's thread alone.
    std::vector<ScriptedPage> m_pages;

    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    ScriptedEndpoint m_endpoint;
};

// The scan through the adapter, ticked until done or the time is up.
class Scan {
public:
    explicit Scan(const BrowserPlaces& places, std::chrono::milliseconds pageTime = 80ms)
        : automation(places, patient(pageTime)), platform{fake.toolkit,    automation,    fake.keys,
                                                          fake.tone,       fake.settings, fake.notifyArea,
                                                          fake.helpViewer, fake.http,     fake.files},
          form(platform) {
        form.chkBeep.setValue(CheckBox::Checked);
    }

    bool tickUntil(const std::function<bool()>& done, std::chrono::milliseconds patience = 3s) {
        const auto deadline = Clock::now() + patience;
        while (Clock::now() < deadline) {
            Timer1_Timer(form);
            if (done())
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    const browsers::PageRecords& seen() const {
        return dynamic_cast<const browsers::MirroredPages&>(*form.BrowserWindows).lastWalk();
    }

    DevToolsBrowserAutomation automation;
    fakes::FakePlatform fake;
    Platform platform;
    Quellit form;

private:
    static Timeouts patient(std::chrono::milliseconds pageTime) {
        Timeouts timeouts;
        timeouts.search = 5s;
        timeouts.page = pageTime;
        return timeouts;
    }
};

std::shared_ptr<const browsers::PageRecord> find(const browsers::PageRecords& records,
                                                 const std::string& id) {
    const auto record =
        std::find_if(records.begin(), records.end(), [&](const auto& r) { return r->id == id; });
    return record == records.end() ? nullptr : *record;
}

TEST(DevToolsMirror, TheScanReadsWhatTheBrowserToldAndAStuckPageHoldsNothingUp) {
    ScriptedBrowser browser;
    Scan scan(browser.places());
    ASSERT_TRUE(scan.tickUntil([&] { return scan.fake.tone.calls.size() == 1; }));
    EXPECT_EQ(fakes::entries(scan.form.lstBlockedUrls), std::vector<std::string>{"ads.example"});
    EXPECT_TRUE(scan.tickUntil([&] { return browser.requests("Target.closeTarget") == 1; }));

    Timer1_Timer(scan.form);
    const auto user = find(scan.seen(), "USER");
    const auto tab = find(scan.seen(), "TAB");
    ASSERT_NE(user, nullptr);
    ASSERT_NE(tab, nullptr);
    EXPECT_FALSE(user->opener);
    EXPECT_EQ(user->menuBar, std::optional<bool>(true));
    EXPECT_FALSE(user->html.has_value()) << "a page no script opened is not asked";
    EXPECT_TRUE(tab->opener);
    EXPECT_EQ(tab->menuBar, std::optional<bool>(true)) << "shares its opener's window";
    EXPECT_EQ(tab->html, std::optional<bool>(false)) << "an SVG image";

    // Each page's window is asked once, as it appears; only pages opened by
    // script are gone into, and the one that answered is let go.
    EXPECT_EQ(browser.requests("Browser.getWindowForTarget"), 3U);
    EXPECT_EQ(browser.requests("Target.attachToTarget"), 2U);
    EXPECT_EQ(browser.requests("Target.detachFromTarget"), 1U);
    EXPECT_EQ(scan.fake.tone.calls.size(), 1U) << "closed once, listed once";
}

TEST(DevToolsMirror, APageAtTheBrowsersAddressLimitDoesNotStopTheScanOfTheOthers) {
    const std::string longUrl = "http://site.example/?" + std::string(2U * 1024U * 1024U - 21U, 'a');
    ScriptedBrowser browser({{"USER", longUrl, "", 1, ""},
                             {"LONG", longUrl, "USER", 1, "text/html"},
                             {"POPUP", "http://ads.example/win.html", "USER", 2, "text/html"}});
    Scan scan(browser.places());
    ASSERT_TRUE(scan.tickUntil([&] { return browser.requests("Target.closeTarget") == 1; }, 10s));
    EXPECT_EQ(fakes::entries(scan.form.lstBlockedUrls), std::vector<std::string>{"ads.example"});
}

// Far more pages than any browser has: the peer is let go, its place rests,
// and the mirror it filled is emptied.
TEST(DevToolsMirror, APeerThatFloodsThePageListIsLetGoAndRests) {
    std::vector<ScriptedPage> flood;
    for (std::size_t i = 0; i < browsers::PageMirror::MaxPages + 100; ++i)
        flood.push_back({"P" + std::to_string(i), "http://site.example/" + std::to_string(i), "", 1, ""});
    ScriptedBrowser browser(std::move(flood));
    DevToolsBrowserAutomation automation(browser.places());
    ASSERT_TRUE(automation.mirror().waitConnected(5s));
    // Thousands of events, read under the sanitizers on a busy machine.
    const auto deadline = Clock::now() + 30s;
    while (automation.mirror().connected() && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(automation.mirror().connected());
    EXPECT_TRUE(automation.mirror().snapshot().empty());
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(browser.connections(), 2) << "one /json/version and one WebSocket, then a rest";
}

// A scan started while the page's answer about its new address is on its
// way finds nothing to close, and the watch of the news lets only so many
// scans start: the answer is the news, not the address.
TEST(DevToolsMirror, ANewAddressIsNewsOnlyOnceThePageHasAnswered) {
    auto c = std::make_unique<testing::DetachedChannel>();
    browsers::PageMirror mirror;
    DevToolsProtocol protocol;
    protocol.start(*c, mirror);
    const auto told = [&](const char* method, const ScriptedPage& page, bool reachesOpener) {
        Json info = targetInfo(page);
        info["canAccessOpener"] = reachesOpener;
        c->receive(Json{{"method", method}, {"params", {{"targetInfo", info}}}}.dump());
    };
    told("Target.targetCreated", {"USER", "http://site.example/", "", 1, ""}, false);
    told("Target.targetCreated", {"POPUP", "", "USER", 2, ""}, false);
    mirror.news().takeNews();
    told("Target.targetInfoChanged", {"POPUP", "http://ads.example/", "USER", 2, ""}, true);
    EXPECT_FALSE(mirror.news().takeNews());
    EXPECT_EQ(mirror.address("POPUP"), std::optional<std::string>("http://ads.example/"));
    EXPECT_FALSE(mirror.settled()) << "the page was asked what it shows at its new address";
}

} // namespace
} // namespace tavro::devtools

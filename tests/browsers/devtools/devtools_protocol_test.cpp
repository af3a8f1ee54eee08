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

// A browser that holds what it creates until the program lets it run, as
// Chromium does with browser-wide auto-attach: once auto-attach is asked for,
// a page already open is attached and a pop-up of the row's kind opens; the
// pop-up, let run, holds its first document request for the program.
class HoldingBrowser {
public:
    HoldingBrowser(std::string popupUrl, bool reachesOpener)
        : m_popupUrl(std::move(popupUrl)), m_reachesOpener(reachesOpener),
          m_endpoint([this](const Json& request,
                            const ScriptedEndpoint::Reply& reply) { return answer(request, reply); },
                     R"({"webSocketDebuggerUrl":"ws://127.0.0.1/devtools/browser/test"})") {}

    BrowserPlaces places() const { return {{}, {m_endpoint.port()}}; }
    // The methods asked of the pop-up's session, and what was asked of the browser about the pop-up.
    std::vector<std::string> popupSteps() {
        const std::lock_guard lock(m_mutex);
        return m_steps;
    }

private:
    bool answer(const Json& request, const ScriptedEndpoint::Reply& reply) {
        const std::string method = request["method"];
        const Json& params = request["params"];
        const std::string session = request.value("sessionId", "");
        if (session == "S-POPUP" || params.value("targetId", "") == "POPUP") {
            const std::lock_guard lock(m_mutex);
            m_steps.push_back(method);
        }
        const auto attached = [&](const Json& info, bool waiting) {
            reply({{"method", "Target.attachedToTarget"},
                   {"params",
                    {{"sessionId", "S-" + info["targetId"].get<std::string>()},
                     {"targetInfo", info},
                     {"waitingForDebugger", waiting}}}});
        };
        const ScriptedPage user{"USER", "http://site.example/", "", 1, ""};
        Json popup = targetInfo({"POPUP", "", "USER", 2, ""});
        popup["canAccessOpener"] = m_reachesOpener;
        if (method == "Target.setDiscoverTargets") {
            reply({{"method", "Target.targetCreated"}, {"params", {{"targetInfo", targetInfo(user)}}}});
        } else if (method == "Target.setAutoAttach") {
            attached(targetInfo(user), false);
            reply({{"method", "Target.targetCreated"}, {"params", {{"targetInfo", popup}}}});
            attached(popup, true);
        } else if (method == "Browser.getWindowForTarget") {
            return reply(answerTo(request, {{"windowId", params["targetId"] == "POPUP" ? 2 : 1}})), true;
        } else if (method == "Fetch.enable") {
            m_fetching = true;
        } else if (method == "Runtime.runIfWaitingForDebugger" && session == "S-POPUP" && m_fetching) {
            reply({{"method", "Fetch.requestPaused"},
                   {"sessionId", session},
                   {"params",
                    {{"requestId", "R1"},
                     {"frameId", "POPUP"},
                     {"resourceType", "Document"},
                     {"request", {{"url", m_popupUrl}, {"method", "GET"}}}}}});
        }
        if (request.contains("id"))
            reply(answerTo(request, Json::object()));
        return true;
    }

    std::string m_popupUrl;
    bool m_reachesOpener;
    bool m_fetching = false;
    std::mutex m_mutex;
    std::vector<std::string> m_steps;
    ScriptedEndpoint m_endpoint;
};

// A pop-up is judged before its first request: the scan's verdict closes it
// with its request unsent, or lets that request go; and it is let go, never
// closed, when the verdict cannot come (no scan, or blocking off) or the rules
// keep it anyway (it cannot reach its opener).
TEST(DevToolsHold, APopupIsJudgedBeforeItsFirstRequestAndNeverHeldHostage) {
    enum class Verdict { Scan, NoScan, BlockingOff };
    struct Row {
        const char* name;
        std::string url;
        bool reachesOpener;
        Verdict verdict;
        std::vector<std::string> steps;
    };
    const std::vector<std::string> held = {"Browser.getWindowForTarget", "Fetch.enable",
                                           "Runtime.runIfWaitingForDebugger"};
    const std::vector<std::string> runsAtOnce = {"Browser.getWindowForTarget",
                                                 "Runtime.runIfWaitingForDebugger"};
    const auto then = [&](std::initializer_list<std::string> more) {
        std::vector<std::string> steps = held;
        steps.insert(steps.end(), more);
        return steps;
    };
    const Row rows[] = {
        {"not allowed", "http://ads.example/win.html", true, Verdict::Scan, then({"Target.closeTarget"})},
        {"allowed", "http://ok.example/sign-in", true, Verdict::Scan,
         then({"Fetch.continueRequest", "Fetch.disable"})},
        {"no verdict in time", "http://ads.example/win.html", true, Verdict::NoScan,
         then({"Fetch.continueRequest", "Fetch.disable"})},
        {"blocking off", "http://ads.example/win.html", true, Verdict::BlockingOff, runsAtOnce},
        {"noopener", "http://ads.example/win.html", false, Verdict::Scan, runsAtOnce},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HoldingBrowser browser(row.url, row.reachesOpener);
        Scan scan(browser.places());
        scan.form.lstWhiteList.append("ok.example");
        if (row.verdict == Verdict::BlockingOff)
            scan.automation.mirror().news().judging(false);
        if (row.verdict == Verdict::Scan)
            scan.tickUntil([&] { return browser.popupSteps().size() >= row.steps.size(); });
        else
            std::this_thread::sleep_for(browsers::HoldFor + 500ms);
        // Blocking may go off only once the browser had held the pop-up: it is let go then.
        const bool letGoLate = row.verdict == Verdict::BlockingOff &&
                               browser.popupSteps() == then({"Fetch.continueRequest", "Fetch.disable"});
        if (!letGoLate) {
            EXPECT_EQ(browser.popupSteps(), row.steps);
        }
        EXPECT_EQ(scan.fake.tone.calls.size(), row.steps.back() == "Target.closeTarget" ? 1U : 0U);
    }
}

} // namespace
} // namespace tavro::devtools

// The program's side of the browser extension against a peer playing the
// extension through the real socket: what a page says of itself decides, a
// page that cannot be asked yet is asked again, and nothing is closed on a
// guess.

#include "blocking/popup_scan.h"
#include "browsers/extension/extension_browsers.h"
#include "browsers/wire/socket_place.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/support/frame_peer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace tavro::extension {
namespace {

using namespace std::chrono_literals;
using testing::FramePeer;

struct ProbeCase {
    const char* name;
    // The page's answers, in turn: whether it reaches its opener, or nothing
    // while it has no document to ask.
    std::vector<std::optional<bool>> answers;
    bool closed;
    // The pop-up window was there before the extension listened: it comes in
    // the whole state, without its source.
    bool beforeTheExtension = false;
    // The page that opened it said, as the tab appeared, that it still reaches it.
    bool vouched = false;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

const ProbeCase ProbeCases[] = {
    {"PopupWindowThatReachesItsOpener", {true}, true},
    {"PopupAskedBeforeItHasADocument", {std::nullopt, std::nullopt, true}, true},
    {"NoopenerPopupWindow", {std::nullopt, false}, false},
    {"PopupWindowOpenedBeforeTheExtensionListened", {true}, true, true},
    {"PopupWindowOfUnknownSourceThatNeverAnswers", {std::nullopt}, false, true},
    {"PopupWindowItsOpenerVouchedForIsClosedBeforeItCanAnswer", {}, true, false, true},
};

// The form over the program's extension socket, and one extension connected to it.
struct Watched {
    explicit Watched(const std::string& runtime)
        : browsers(wire::socketPathIn(runtime)),
          extension(FramePeer::connectTo(wire::socketPathIn(runtime))) {}

    ExtensionBrowsers browsers;
    FramePeer extension;
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    browsers,        fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form{platform};
};

class ExtensionProfile : public ::testing::TestWithParam<ProbeCase> {
protected:
    ExtensionProfile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-bridge-XXXXXX").string();
        m_runtime = ::mkdtemp(pattern.data());
    }
    ~ExtensionProfile() override { std::filesystem::remove_all(m_runtime); }

    std::string m_runtime;
};

TEST_P(ExtensionProfile, WhatThePageSaysOfItselfDecides) {
    const ProbeCase& c = GetParam();
    Watched watched(m_runtime);
    FramePeer& extension = watched.extension;
    Quellit& form = watched.form;

    using Json = nlohmann::json;
    Json tabs = {{"type", "tabs"},
                 {"tabs", Json::array({{{"tab", 1},
                                        {"window", 1},
                                        {"url", "http://site.example/"},
                                        {"windowType", "normal"},
                                        {"sourceTab", nullptr}}})}};
    Json opened = {{"type", "opened"},      {"tab", 2},       {"window", 2},
                   {"windowType", "popup"}, {"sourceTab", 1}, {"url", "http://ads.example/"}};
    if (c.vouched)
        opened["opener"] = true;
    ASSERT_TRUE(
        extension.writeFrame(Json{{"type", "hello"}, {"protocol", 1}, {"browser", "chromium"}}.dump()));
    if (c.beforeTheExtension) {
        opened.erase("type");
        opened["sourceTab"] = nullptr;
        tabs["tabs"].push_back(opened);
    }
    ASSERT_TRUE(extension.writeFrame(tabs.dump()));
    if (!c.beforeTheExtension) {
        ASSERT_TRUE(extension.writeFrame(opened.dump()));
    }

    std::size_t answered = 0;
    bool closed = false;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline && !closed) {
        Timer1_Timer(form);
        const auto frame = extension.readFrame(20);
        if (!frame)
            continue;
        const Json asked = Json::parse(*frame);
        if (asked["type"] == "close") {
            EXPECT_EQ(asked["tab"], 2);
            closed = true;
        } else if (asked["type"] == "probe" && answered < c.answers.size()) {
            const std::optional<bool> opener = c.answers[answered++];
            Json answer = {
                {"type", "probe"}, {"id", asked["id"]}, {"tab", 2}, {"url", "http://ads.example/"}};
            answer["opener"] = opener ? Json(*opener) : Json(nullptr);
            answer["contentType"] = opener ? Json("text/html") : Json(nullptr);
            ASSERT_TRUE(extension.writeFrame(answer.dump()));
        }
    }
    EXPECT_EQ(answered, c.answers.size()) << "the page was not asked again";
    EXPECT_EQ(closed, c.closed);
    EXPECT_EQ(fakes::entries(form.lstBlockedUrls),
              c.closed ? std::vector<std::string>{"ads.example"} : std::vector<std::string>{});
}

// The "Browsers" view counts profiles by the family their hello named, read
// on another thread than the one that hears it.
TEST_F(ExtensionProfile, EachProfileIsCountedInTheFamilyItsHelloNamedWhileItIsConnected) {
    ExtensionBrowsers browsers(wire::socketPathIn(m_runtime));
    const auto familiesBecome = [&](const std::vector<std::string>& expected) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (browsers.families() != expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return browsers.families() == expected;
    };
    FramePeer chromium = FramePeer::connectTo(wire::socketPathIn(m_runtime));
    ASSERT_TRUE(chromium.writeFrame(R"({"type":"hello","protocol":2,"browser":"chromium"})"));
    EXPECT_TRUE(familiesBecome({"chromium"}));
    {
        FramePeer firefox = FramePeer::connectTo(wire::socketPathIn(m_runtime));
        ASSERT_TRUE(firefox.writeFrame(R"({"type":"hello","protocol":2,"browser":"firefox"})"));
        EXPECT_TRUE(familiesBecome({"chromium", "firefox"}));
    }
    EXPECT_TRUE(familiesBecome({"chromium"})) << "a profile that went is still counted";
}

INSTANTIATE_TEST_SUITE_P(Answers, ExtensionProfile, ::testing::ValuesIn(ProbeCases),
                         [](const auto& param) { return std::string(param.param.name); });

// From the third version on, the extension holds a new tab's first request
// while the program judges it: the scan's close ends the hold (the tab and its
// request go), what the scan keeps is let go, and a tab that cannot reach its
// opener, or whose verdict does not come, is let go without one. The
// extension is told whether pages are judged before it holds anything.
TEST_F(ExtensionProfile, AHeldTabIsClosedOrLetGoAndNeverKeptWaiting) {
    using Json = nlohmann::json;
    struct Row {
        const char* name;
        std::string url;
        bool reachesOpener;
        bool scans;
        const char* verdict; // the program's word on the hold
        // A tab in its opener's window, told of without its source before the
        // hold, as Firefox may; Aggressive Blocking closes it.
        bool tabToldFirst = false;
    };
    const Row rows[] = {
        {"not allowed", "http://ads.example/win.html", true, true, "close"},
        {"allowed", "http://ok.example/sign-in", true, true, "release"},
        {"noopener", "http://ads.example/win.html", false, true, "release"},
        {"no verdict in time", "http://ads.example/win.html", true, false, "release"},
        {"tab told of before its source", "http://ads.example/win.html", true, true, "close", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Watched watched(m_runtime);
        FramePeer& extension = watched.extension;
        Quellit& form = watched.form;
        form.lstWhiteList.append("ok.example");
        form.chkMenubar.setValue(row.tabToldFirst ? 1 : 0);
        ASSERT_TRUE(
            extension.writeFrame(Json{{"type", "hello"}, {"protocol", 3}, {"browser", "firefox"}}.dump()));
        ASSERT_TRUE(extension.writeFrame(Json{{"type", "tabs"},
                                              {"tabs", Json::array({{{"tab", 1},
                                                                     {"window", 1},
                                                                     {"url", "http://site.example/"},
                                                                     {"windowType", "normal"},
                                                                     {"sourceTab", nullptr}}})}}
                                             .dump()));
        const auto told = extension.readFrame(2000);
        ASSERT_TRUE(told);
        EXPECT_EQ(Json::parse(*told),
                  (Json{{"type", "judging"}, {"id", Json::parse(*told)["id"]}, {"on", true}}));
        const int window = row.tabToldFirst ? 1 : 2;
        const char* windowType = row.tabToldFirst ? "normal" : "popup";
        if (row.tabToldFirst) {
            ASSERT_TRUE(extension.writeFrame(Json{
                {"type", "created"},
                {"tab", 2},
                {"window", window},
                {"windowType", windowType},
                {"url", "about:blank"}}.dump()));
        }
        ASSERT_TRUE(extension.writeFrame(Json{
            {"type", "held"},
            {"hold", 7},
            {"tab", 2},
            {"window", window},
            {"windowType", windowType},
            {"url", row.url},
            {"sourceTab", row.tabToldFirst ? Json(1) : Json(nullptr)},
            {"opener", row.reachesOpener}}.dump()));
        std::optional<Json> word;
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (!word && std::chrono::steady_clock::now() < deadline) {
            if (row.scans)
                Timer1_Timer(form);
            if (const auto frame = extension.readFrame(20))
                word = Json::parse(*frame);
        }
        ASSERT_TRUE(word);
        EXPECT_EQ((*word)["type"], row.verdict);
        EXPECT_EQ(word->value(row.verdict == std::string("close") ? "tab" : "hold", 0),
                  row.verdict == std::string("close") ? 2 : 7);
        EXPECT_EQ(fakes::entries(form.lstBlockedUrls), row.verdict == std::string("close")
                                                           ? std::vector<std::string>{"ads.example"}
                                                           : std::vector<std::string>{});
    }
}

// A browser that has stopped keeps its host's socket open. From the second
// version of the messages on, a quiet extension is pinged, and one that
// leaves the ping unanswered is dropped, so that its pages are not taken for
// fresh; one of the first version knows no ping and is never asked. Both
// versions are quiet side by side, each for as long as it takes to tell.
TEST(ExtensionLiveness, AQuietExtensionIsPingedOnlyFromTheSecondVersionOn) {
    using Json = nlohmann::json;
    std::string pattern = (std::filesystem::temp_directory_path() / "tavro-ping-XXXXXX").string();
    const std::string runtime = ::mkdtemp(pattern.data());
    {
        ExtensionBrowsers browsers(wire::socketPathIn(runtime));
        const auto quietFrom = [](FramePeer& extension, int version) {
            return extension.writeFrame(Json{{"type", "hello"}, {"protocol", version}}.dump()) &&
                   extension.writeFrame(Json{{"type", "tabs"}, {"tabs", Json::array()}}.dump());
        };
        FramePeer first = FramePeer::connectTo(wire::socketPathIn(runtime));
        ASSERT_TRUE(quietFrom(first, 1));
        const auto firstQuiet = std::chrono::steady_clock::now();
        FramePeer second = FramePeer::connectTo(wire::socketPathIn(runtime));
        ASSERT_TRUE(quietFrom(second, 2));

        const std::optional<std::string> asked = second.readFrame(4500);
        ASSERT_TRUE(asked);
        EXPECT_EQ(Json::parse(*asked).at("type"), "ping");
        EXPECT_TRUE(second.endsWithin(3000)) << "the unanswered ping did not end the connection";

        // Quiet for 4.5 s at least, what is left of them read now.
        const auto quiet = std::chrono::steady_clock::now() - firstQuiet;
        const auto left = std::max(std::chrono::milliseconds(0),
                                   4500ms - std::chrono::duration_cast<std::chrono::milliseconds>(quiet));
        const std::optional<std::string> pinged = first.readFrame(static_cast<int>(left.count()));
        EXPECT_FALSE(pinged) << "the first version was asked: " << *pinged;
    }
    std::filesystem::remove_all(runtime);
}

} // namespace
} // namespace tavro::extension

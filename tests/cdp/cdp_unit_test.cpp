// The protocol pieces of the DevTools adapter against a scripted endpoint:
// deadlines, late answers, answers out of order, a browser that goes away,
// the places a browser is looked for, and the popup scan through the adapter
// while the browser keeps a page's window to itself.

#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "platform/cdp/browser_link.h"
#include "platform/cdp/cdp_browser.h"
#include "platform/cdp/discovery.h"
#include "platform/cdp/page_collection.h"
#include "platform/error.h"
#include "platform/websocket/json_connection.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tests/support/scripted_endpoint.h"
#include "tests/support/silent_listener.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace tavro::cdp {
namespace {

using namespace std::chrono_literals;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using testing::ScriptedEndpoint;

Json answerTo(const Json& request, Json result) {
    return {{"id", request["id"]}, {"result", std::move(result)}};
}

TEST(Connection, LateAnswerIsDroppedAndDoesNotAnswerTheNextCall) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        if (request["method"] == "Slow")
            std::this_thread::sleep_for(300ms);
        reply(answerTo(request, {{"method", request["method"]}}));
        return true;
    });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Slow", Json::object(), 50ms), Error);
    EXPECT_LT(Clock::now() - started, 250ms) << "the call must give up at its deadline";

    // The slow answer arrives while this call waits; it must not be taken for it.
    EXPECT_EQ(c->call("Fast", Json::object(), 2s)["method"], "Fast");
    EXPECT_TRUE(c->isOpen());
}

TEST(Connection, PipelinedAnswersFindTheirCallsInAnyOrder) {
    std::vector<Json> held;
    ScriptedEndpoint endpoint([&](const Json& request, const ScriptedEndpoint::Reply& reply) {
        held.push_back(request);
        if (held.size() == 3) {
            for (auto it = held.rbegin(); it != held.rend(); ++it)
                reply(answerTo(*it, {{"echo", (*it)["params"]["n"]}}));
        }
        return true;
    });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    const long a = c->send("Echo", {{"n", 1}});
    const long b = c->send("Echo", {{"n", 2}});
    const long d = c->send("Echo", {{"n", 3}}, "session-1");
    ASSERT_TRUE(c->wait({a, b, d}, Clock::now() + 2s));
    EXPECT_EQ(resultOf(std::move(*c->take(a)))["echo"], 1);
    EXPECT_EQ(resultOf(std::move(*c->take(b)))["echo"], 2);
    EXPECT_EQ(resultOf(std::move(*c->take(d)))["echo"], 3);
    EXPECT_FALSE(c->take(a).has_value()) << "an answer is handed out once";
    EXPECT_EQ(held[2]["sessionId"], "session-1");
}

TEST(Connection, ErrorAnswerRaisesTheBrowsersMessage) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        reply({{"id", request["id"]}, {"error", {{"code", -32000}, {"message", "No target with given id"}}}});
        return true;
    });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    try {
        c->call("Target.closeTarget", {{"targetId", "gone"}}, 2s);
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.description(), "No target with given id");
    }
}

TEST(Connection, BrowserThatGoesAwayEndsWaitingAtOnce) {
    ScriptedEndpoint endpoint([](const Json&, const ScriptedEndpoint::Reply&) { return false; });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Target.getTargets", Json::object(), 5s), Error);
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_FALSE(c->isOpen());
    EXPECT_THROW(c->call("Target.getTargets", Json::object(), 5s), Error);
}

TEST(Connection, EventsReachTheirHandlerAndAnswersDoNot) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        reply({{"method", "Target.targetDestroyed"}, {"params", {{"targetId", "T1"}}}});
        reply(answerTo(request, Json::object()));
        return true;
    });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    std::vector<std::string> events;
    c->onEvent = [&](const Json& e) { events.push_back(e["method"].get<std::string>()); };
    c->call("Target.setDiscoverTargets", {{"discover", true}}, 2s);
    EXPECT_EQ(events, std::vector<std::string>{"Target.targetDestroyed"});
}

TEST(Connection, MessageOverTheCapIsRefusedFromItsHeaderAndTheConnectionDropped) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        if (request["method"] == "Huge") {
            // A text frame announcing a gigabyte, of which nothing follows: a
            // reader that waited to hold it whole would wait forever.
            reply.raw(std::string("\x81\x7f\x00\x00\x00\x00\x40\x00\x00\x00", 10));
            std::this_thread::sleep_for(3s);
            return false;
        }
        reply(answerTo(request, Json::object()));
        return true;
    });
    auto c = Connection::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Huge", Json::object(), 5s), Error);
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_FALSE(c->isOpen());
}

TEST(Connection, MessagesNestedDeeperThanTheLimitAreRefused) {
    auto nested = [](int depth) {
        return R"({"id":1,"result":)" + std::string(static_cast<std::size_t>(depth - 1), '[') +
               std::string(static_cast<std::size_t>(depth - 1), ']') + "}";
    };
    EXPECT_TRUE(tavro::websocket::parseMessage(nested(tavro::websocket::MaxJsonDepth)).has_value());
    EXPECT_FALSE(tavro::websocket::parseMessage(nested(tavro::websocket::MaxJsonDepth + 1)).has_value());
    EXPECT_FALSE(tavro::websocket::parseMessage(nested(100000)).has_value());
    // Brackets inside strings, escaped quotes among them, are text.
    EXPECT_TRUE(
        tavro::websocket::parseMessage(R"({"url":")" + std::string(200, '[') + R"(\"{"})").has_value());
    EXPECT_FALSE(tavro::websocket::parseMessage("[1]").has_value()) << "a message is an object";
}

TEST(Connection, NothingListeningFailsWithinTheTimeout) {
    std::uint16_t port = 0;
    {
        net::io_context io;
        tcp::acceptor acceptor(io, tcp::endpoint(net::ip::address_v4::loopback(), 0));
        port = acceptor.local_endpoint().port();
    }
    EXPECT_THROW(Connection::open(port, "/devtools/browser/x", 500ms), Error);
}

class PortFiles : public ::testing::Test {
protected:
    PortFiles()
        : m_folder(std::filesystem::temp_directory_path() / ("tavro-cdp-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(m_folder);
    }
    ~PortFiles() override { std::filesystem::remove_all(m_folder); }
    std::string write(const std::string& name, const std::string& text) {
        const auto path = m_folder / name;
        std::ofstream(path) << text;
        return path.string();
    }

private:
    std::filesystem::path m_folder;
};

TEST_F(PortFiles, ReadsPortAndPathAndRefusesAnythingElse) {
    struct Row {
        const char* text;
        bool valid;
        std::uint16_t port;
    };
    const Row rows[] = {
        {"9333\n/devtools/browser/abc\n", true, 9333},
        {"9333\n/devtools/browser/abc", true, 9333},
        {"9333\n", false, 0},
        {"0\n/devtools/browser/abc\n", false, 0},
        {"70000\n/devtools/browser/abc\n", false, 0},
        {"93x3\n/devtools/browser/abc\n", false, 0},
        {"9333\nws://evil.example/devtools\n", false, 0},
        {"", false, 0},
    };
    for (const Row& row : rows) {
        const auto endpoint = readPortFile(write("DevToolsActivePort", row.text));
        EXPECT_EQ(endpoint.has_value(), row.valid) << row.text;
        if (endpoint && row.valid) {
            EXPECT_EQ(endpoint->port, row.port);
            EXPECT_EQ(endpoint->path, "/devtools/browser/abc");
        }
    }
    EXPECT_FALSE(readPortFile(write("x", "") + ".missing").has_value());
}

TEST_F(PortFiles, OnlyARegularFileIsReadNeverALinkOrAFifo) {
    const std::string target = write("real", "9333\n/devtools/browser/abc\n");
    ASSERT_TRUE(readPortFile(target).has_value());
    const std::string link = target + ".link";
    std::filesystem::create_symlink(target, link);
    EXPECT_FALSE(readPortFile(link).has_value());

    // Nobody writes to this pipe: a reader that waited for it would hang the tick.
    const std::string fifo = target + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto started = Clock::now();
    EXPECT_FALSE(readPortFile(fifo).has_value());
    EXPECT_LT(Clock::now() - started, 1s);
}

TEST(ProfileFolder, NeverRelativeToTheWorkingFolder) {
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string savedData = data != nullptr ? data : "";
    ::unsetenv("XDG_DATA_HOME");
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        if (value == nullptr)
            ::unsetenv("HOME");
        else
            ::setenv("HOME", value, 1);
        const std::string folder = browserProfileFolder();
        EXPECT_TRUE(folder.empty() || folder.front() == '/') << folder;
        for (const std::string& file : defaultBrowserPlaces().portFiles)
            EXPECT_EQ(file.front(), '/') << file;
    }
    ::setenv("HOME", home.c_str(), 1);
    if (data != nullptr)
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

// Rows as /proc/net/tcp and /proc/net/tcp6 print them on this machine: the
// address as words in its own byte order, the port in hexadecimal, state 0A
// for a listening socket, then the owner's user id.
std::string socketRow(const std::vector<unsigned char>& address, std::uint16_t port, const char* state,
                      uid_t uid) {
    std::string hex;
    for (std::size_t i = 0; i < address.size(); i += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, &address[i], 4);
        char text[9];
        std::snprintf(text, sizeof text, "%08X", word);
        hex += text;
    }
    char row[256];
    std::snprintf(row, sizeof row,
                  "   0: %s:%04X 00000000:0000 %s 00000000:00000000 00:00000000 00000000 %5u        0 1 1\n",
                  hex.c_str(), port, state, static_cast<unsigned>(uid));
    return row;
}

TEST(PortListener, OnlyTheUsersOwnListenerOnTheLoopbackCounts) {
    const std::string heading =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
    const std::vector<unsigned char> loopback{127, 0, 0, 1};
    const std::vector<unsigned char> any{0, 0, 0, 0};
    const std::vector<unsigned char> other{127, 0, 0, 2};
    const std::vector<unsigned char> any6(16, 0);
    std::vector<unsigned char> mapped(16, 0);
    mapped[10] = mapped[11] = 0xff;
    std::copy(loopback.begin(), loopback.end(), mapped.begin() + 12);
    const uid_t me = 1000;
    const uid_t someone = 1001;
    struct Row {
        const char* name;
        std::string table;
        Listener expected;
    };
    const Row rows[] = {
        {"own on 127.0.0.1", socketRow(loopback, 9222, "0A", me), Listener::Own},
        {"another user's on 127.0.0.1", socketRow(loopback, 9222, "0A", someone), Listener::Foreign},
        {"another user's on every address", socketRow(any, 9222, "0A", someone), Listener::Foreign},
        {"another user's on IPv6's any", socketRow(any6, 9222, "0A", someone), Listener::Foreign},
        {"another user's on the mapped loopback", socketRow(mapped, 9222, "0A", someone), Listener::Foreign},
        {"own beside another user's",
         socketRow(loopback, 9222, "0A", me) + socketRow(any, 9222, "0A", someone), Listener::Foreign},
        {"another address", socketRow(other, 9222, "0A", someone), Listener::None},
        {"another port", socketRow(loopback, 9223, "0A", someone), Listener::None},
        {"a connection, not listening", socketRow(loopback, 9222, "01", someone), Listener::None},
        {"a broken row", "   0: 0100007F:240 garbage\n", Listener::None},
        {"nothing", "", Listener::None},
    };
    for (const Row& row : rows)
        EXPECT_EQ(listenerIn(heading + row.table, 9222, me), row.expected) << row.name;
}

TEST(BrowserSearch, ASilentListenerCostsTheTickNothing) {
    testing::SilentListener named;
    testing::SilentListener fixed;
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavro-silent-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string portFile = (folder / "DevToolsActivePort").string();
    std::ofstream(portFile) << named.port() << "\n/devtools/browser/silent\n";

    CdpBrowserAutomation automation(BrowserPlaces{{portFile}, {fixed.port()}});
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    for (int tick = 0; tick < 3; ++tick) {
        const auto started = Clock::now();
        Timer1_Timer(form);
        EXPECT_LT(Clock::now() - started, 100ms) << "tick " << tick;
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(form.BrowserWindows, nullptr);
    std::filesystem::remove_all(folder);
}

TEST(BrowserSearch, APlaceThatAnswersAsNoBrowserRestsBeforeItIsAskedAgain) {
    ScriptedEndpoint endpoint([](const Json&, const ScriptedEndpoint::Reply&) { return true; },
                              R"({"Browser":"not quite"})");
    Timeouts timeouts;
    timeouts.search = 2s;
    BrowserLink link(BrowserPlaces{{}, {endpoint.port()}}, timeouts);
    EXPECT_THROW(link.connection(), Error);
    ASSERT_EQ(endpoint.connections(), 1);
    EXPECT_THROW(link.connection(), Error);
    EXPECT_THROW(link.connection(), Error);
    EXPECT_EQ(endpoint.connections(), 1) << "asked again before its rest was over";
}

TEST_F(PortFiles, StaleFileOfAKilledBrowserIsPassedForTheNextPlace) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        reply(answerTo(request, {{"ok", true}}));
        return true;
    });
    std::uint16_t closed = 0;
    {
        net::io_context io;
        tcp::acceptor acceptor(io, tcp::endpoint(net::ip::address_v4::loopback(), 0));
        closed = acceptor.local_endpoint().port();
    }
    const BrowserPlaces places{
        {write("stale", std::to_string(closed) + "\n/devtools/browser/old\n"),
         write("live", std::to_string(endpoint.port()) + "\n" + endpoint.path() + "\n")},
        {}};
    auto c = connectToBrowser(places, 500ms);
    EXPECT_TRUE(c->call("Ping", Json::object(), 2s)["ok"].get<bool>());
}

TEST(FixedPort, OnlyThePathOfTheNamedWebSocketIsUsed) {
    // The endpoint names another host; the client must still connect to
    // 127.0.0.1 on the port it asked, with the path it was given.
    const std::string version =
        R"({"Browser":"Chrome/156","webSocketDebuggerUrl":"ws://198.51.100.7:1/devtools/browser/test"})";
    ScriptedEndpoint endpoint(
        [](const Json& request, const ScriptedEndpoint::Reply& reply) {
            reply(answerTo(request, {{"ok", true}}));
            return true;
        },
        version);
    EXPECT_EQ(askBrowserPath(endpoint.port(), 1s), "/devtools/browser/test");
    auto c = connectToBrowser(BrowserPlaces{{}, {endpoint.port()}}, 1s);
    EXPECT_TRUE(c->call("Ping", Json::object(), 2s)["ok"].get<bool>());
    EXPECT_EQ(endpoint.connections(), 3); // two /json/version requests, one WebSocket
}

TEST(FixedPort, SomethingThatIsNotABrowserIsRefused) {
    ScriptedEndpoint endpoint([](const Json&, const ScriptedEndpoint::Reply&) { return false; },
                              "<html>hello</html>");
    EXPECT_THROW(askBrowserPath(endpoint.port(), 1s), Error);
    EXPECT_THROW(connectToBrowser(BrowserPlaces{{}, {endpoint.port()}}, 1s), Error);
}

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
    // For this many walks the browser does not name the page's window: it
    // answers with an error, or only after the walk stopped waiting.
    int unnamedWalks = 0;
    bool late = false;
};

// A tab the user opened, a tab its script opened (same window, showing an SVG
// image), and a pop-up window of its own whose page never answers.
std::vector<ScriptedPage> threePages() {
    return {{"USER", "http://site.example/", "", 1, "", 0, false},
            {"TAB", "http://img.example/x.svg", "USER", 1, "image/svg+xml", 0, false},
            {"POPUP", "http://ads.example/win.html", "USER", 2, "", 0, false}};
}

// A browser whose pages are laid out by the test. A page asked to close is
// gone from the next list of pages, unless the browser is slow to close.
class ScriptedBrowser {
public:
    // listDelay: how long the browser takes to send its list of pages.
    explicit ScriptedBrowser(std::vector<ScriptedPage> pages = threePages(), bool closes = true,
                             std::chrono::milliseconds listDelay = {})
        : m_pages(std::move(pages)), m_closes(closes), m_listDelay(listDelay),
          m_endpoint([this](const Json& request,
                            const ScriptedEndpoint::Reply& reply) { return answer(request, reply); },
                     R"({"webSocketDebuggerUrl":"ws://127.0.0.1/devtools/browser/test"})") {}

    BrowserPlaces places() const { return {{}, {m_endpoint.port()}}; }
    std::vector<Json> requests(const std::string& method) {
        std::lock_guard lock(m_mutex);
        std::vector<Json> out;
        for (const Json& r : m_requests) {
            if (r["method"] == method)
                out.push_back(r);
        }
        return out;
    }

private:
    const ScriptedPage* find(const Json& targetId) const {
        for (const ScriptedPage& page : m_pages) {
            if (page.id == targetId)
                return &page;
        }
        return nullptr;
    }

    bool answer(const Json& request, const ScriptedEndpoint::Reply& reply) {
        const std::string method = request["method"];
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        const Json& params = request["params"];
        if (method == "Target.getTargets") {
            std::this_thread::sleep_for(m_listDelay);
            // What was held back arrives long after the walk that asked gave up.
            for (const Json& held : m_late) {
                if (const ScriptedPage* page = find(held["params"]["targetId"]))
                    reply(answerTo(held, {{"windowId", page->window}}));
                else
                    reply({{"id", held["id"]},
                           {"error", {{"code", -32000}, {"message", "No target with given id"}}}});
            }
            m_late.clear();
            ++m_walks;
            Json infos = Json::array();
            for (const ScriptedPage& page : m_pages) {
                Json info = {{"type", "page"},  {"attached", false},
                             {"title", ""},     {"targetId", page.id},
                             {"url", page.url}, {"canAccessOpener", !page.openerId.empty()}};
                if (!page.openerId.empty())
                    info["openerId"] = page.openerId;
                infos.push_back(info);
            }
            reply(answerTo(request, {{"targetInfos", infos}}));
        } else if (method == "Browser.getWindowForTarget") {
            const ScriptedPage* page = find(params["targetId"]);
            if (page != nullptr && m_walks > page->unnamedWalks)
                reply(answerTo(request, {{"windowId", page->window}}));
            else if (page != nullptr && page->late)
                m_late.push_back(request);
            else
                reply({{"id", request["id"]},
                       {"error", {{"code", -32000}, {"message", "Browser window not found"}}}});
        } else if (method == "Target.attachToTarget") {
            reply(answerTo(request, {{"sessionId", "S-" + params["targetId"].get<std::string>()}}));
        } else if (method == "Page.getFrameTree") {
            const std::string id = request["sessionId"].get<std::string>().substr(2);
            const ScriptedPage* page = find(id);
            if (page != nullptr && !page->mimeType.empty())
                reply(answerTo(request, {{"frameTree", {{"frame", {{"mimeType", page->mimeType}}}}}}));
        } else if (method == "Target.closeTarget") {
            if (m_closes)
                std::erase_if(m_pages,
                              [&](const ScriptedPage& page) { return page.id == params["targetId"]; });
            reply(answerTo(request, {{"success", true}}));
        } else if (request.contains("id")) {
            reply(answerTo(request, Json::object()));
        }
        return true;
    }

    // Touched by the endpoint's thread alone.
    std::vector<ScriptedPage> m_pages;
    bool m_closes;
    std::chrono::milliseconds m_listDelay;
    std::vector<Json> m_late;
    int m_walks = 0;

    std::mutex m_mutex;
    std::vector<Json> m_requests;
    ScriptedEndpoint m_endpoint;
};

TEST(PageCollectionWalk, AnswersFromTheBrowserAndDoesNotWaitForAStuckPage) {
    ScriptedBrowser browser(threePages(), false);
    Timeouts timeouts;
    timeouts.search = 5s;
    timeouts.page = std::chrono::milliseconds(80);
    auto link = std::make_shared<BrowserLink>(browser.places(), timeouts);
    PageCollection pages(link);

    const auto started = Clock::now();
    auto walk = pages.walk();
    EXPECT_LT(Clock::now() - started, 400ms) << "a stuck page must cost no more than the page deadline";

    auto user = walk->next();
    auto tab = walk->next();
    auto popup = walk->next();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(walk->next(), nullptr);

    EXPECT_FALSE(user->document()->opener());
    EXPECT_TRUE(user->menuBar());
    EXPECT_THROW(user->document()->isHtml(), Error) << "a page no script opened is not asked";

    EXPECT_TRUE(tab->document()->opener());
    EXPECT_TRUE(tab->menuBar()) << "shares its opener's window";
    EXPECT_FALSE(tab->document()->isHtml()) << "an SVG image";

    EXPECT_EQ(popup->locationUrl(), "http://ads.example/win.html");
    EXPECT_FALSE(popup->menuBar()) << "a window of its own";
    EXPECT_THROW(popup->document()->isHtml(), Error) << "its page has not answered";

    // A close request is written at once, and the page keeps its answers.
    popup->quit();
    popup->quit();
    EXPECT_TRUE(popup->document()->opener());
    EXPECT_FALSE(popup->menuBar());
    std::this_thread::sleep_for(100ms);
    const auto closes = browser.requests("Target.closeTarget");
    ASSERT_EQ(closes.size(), 2U);
    EXPECT_EQ(closes[0]["params"]["targetId"], "POPUP");

    // Only pages opened by script were asked; the answered one was let go.
    const auto attaches = browser.requests("Target.attachToTarget");
    ASSERT_EQ(attaches.size(), 2U);
    EXPECT_EQ(browser.requests("Target.detachFromTarget").size(), 1U);

    // The next tick neither asks again about windows nor re-asks the page
    // whose question is still out.
    pages.walk();
    EXPECT_EQ(browser.requests("Browser.getWindowForTarget").size(), 3U);
    EXPECT_EQ(browser.requests("Target.attachToTarget").size(), 2U);
    EXPECT_EQ(browser.requests("Page.getFrameTree").size(), 2U);
}

// The scan through the adapter while the browser will not yet say in which
// window a page is. Until it does, nothing may be closed or listed on the
// strength of that page's window; once it does, the page is decided for good
// and its window is not asked about again.
struct UnnamedWindowCase {
    const char* name;
    std::vector<ScriptedPage> pages;
    bool adsAllowed;
    // The page under watch, the tick whose walk first decides it, and what
    // its menu bar then reads.
    const char* watched;
    int decidedAt;
    bool menuBar;
    // The tick that closes and lists it; 0 when none does.
    int closedAt;
};

void PrintTo(const UnnamedWindowCase& c, std::ostream* os) {
    *os << c.name;
}

const ScriptedPage User{"USER", "http://site.example/", "", 1, "", 0, false};

ScriptedPage popupUnnamedFor(int walks, bool late) {
    return {"POPUP", "http://ads.example/win.html", "USER", 2, "text/html", walks, late};
}

const UnnamedWindowCase UnnamedWindowCases[] = {
    {"PopupWindowAnErrorTwice", {User, popupUnnamedFor(2, false)}, false, "POPUP", 3, false, 3},
    {"PopupWindowNamedLate", {User, popupUnnamedFor(1, true)}, false, "POPUP", 2, false, 2},
    {"AllowedPopupWindowAnErrorTwice", {User, popupUnnamedFor(2, false)}, true, "POPUP", 3, false, 0},
    {"AllowedPopupWindowNamedLate", {User, popupUnnamedFor(2, true)}, true, "POPUP", 3, false, 0},
    // The tab's opener shares its window; not knowing that window must not
    // make the tab look alone in one.
    {"OpenerWindowAnErrorTwice",
     {{"USER", "http://site.example/", "", 1, "", 2, false},
      {"TAB", "http://ads.example/tab.html", "USER", 1, "text/html", 0, false}},
     false,
     "TAB",
     3,
     true,
     0},
    // A page the browser never names (one shown outside its tab strip) does
    // not hold up the pop-ups beside it.
    {"PopupWithAnotherWindowNeverNamed",
     {User, {"OTHER", "chrome://panel.top-chrome/", "", 0, "", 99, false}, popupUnnamedFor(0, false)},
     false,
     "POPUP",
     1,
     false,
     1},
    // A page seen beside it in its window settles it, whatever else is unknown.
    {"TabBesideItsOpenerWithAnotherWindowUnnamed",
     {User,
      {"OTHER", "http://other.example/", "", 3, "", 99, false},
      {"TAB", "http://ads.example/tab.html", "USER", 1, "text/html", 0, false}},
     false,
     "TAB",
     1,
     true,
     0},
};

class UnnamedWindow : public ::testing::TestWithParam<UnnamedWindowCase> {};

TEST_P(UnnamedWindow, DecidesNothingUntilTheBrowserNamesIt) {
    const UnnamedWindowCase& c = GetParam();
    ScriptedBrowser browser(c.pages);
    Timeouts timeouts;
    timeouts.search = 5s;
    timeouts.browser = 150ms;
    CdpBrowserAutomation automation(browser.places(), timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    form.chkBeep.setValue(CheckBox::Checked);
    if (c.adsAllowed)
        form.lstWhiteList.append("ads.example");

    std::size_t asksWhenDecided = 0;
    for (int tick = 1; tick <= 4; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        Timer1_Timer(form);
        // The browser reads in order: once it answers this, it has seen every
        // close request of the tick.
        automation.link().connection().call("Browser.getVersion", Json::object(), 2s);
        const bool closed = c.closedAt != 0 && tick >= c.closedAt;
        EXPECT_EQ(browser.requests("Target.closeTarget").size(), closed ? 1U : 0U);
        EXPECT_EQ(fakes::entries(form.lstBlockedUrls),
                  closed ? std::vector<std::string>{"ads.example"} : std::vector<std::string>{});
        EXPECT_EQ(fake.tone.calls.size(), closed ? 1U : 0U);
        if (closed && tick > c.closedAt)
            continue; // gone at its close request

        const auto& seen = dynamic_cast<const PageCollection&>(*form.BrowserWindows).lastWalk();
        const auto record =
            std::find_if(seen.begin(), seen.end(), [&](const auto& r) { return r->id == c.watched; });
        ASSERT_NE(record, seen.end());
        EXPECT_EQ((*record)->menuBar.has_value(), tick >= c.decidedAt);
        if (tick == c.decidedAt) {
            EXPECT_EQ((*record)->menuBar, c.menuBar);
            asksWhenDecided = browser.requests("Browser.getWindowForTarget").size();
        } else if (tick > c.decidedAt) {
            EXPECT_EQ((*record)->menuBar, c.menuBar) << "decided for the page's life";
            EXPECT_EQ(browser.requests("Browser.getWindowForTarget").size(), asksWhenDecided)
                << "a decided page's window is not asked about again";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Walks, UnnamedWindow, ::testing::ValuesIn(UnnamedWindowCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(LongAddress, APageAtTheBrowsersAddressLimitDoesNotStopTheScanOfTheOthers) {
    const std::string longUrl = "http://site.example/?" + std::string(2U * 1024U * 1024U - 21U, 'a');
    ScriptedBrowser browser({{"USER", longUrl, "", 1, "", 0, false},
                             {"LONG", longUrl, "USER", 1, "text/html", 0, false},
                             {"POPUP", "http://ads.example/win.html", "USER", 2, "text/html", 0, false}});
    Timeouts timeouts;
    timeouts.search = 5s;
    timeouts.browser = 5s; // megabytes of JSON, slow under the sanitizers
    CdpBrowserAutomation automation(browser.places(), timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    Timer1_Timer(form);
    automation.link().connection().call("Browser.getVersion", Json::object(), 5s);
    const auto closed = browser.requests("Target.closeTarget");
    ASSERT_EQ(closed.size(), 1U);
    EXPECT_EQ(closed.front()["params"]["targetId"], "POPUP");
    EXPECT_EQ(fakes::entries(form.lstBlockedUrls), std::vector<std::string>{"ads.example"});
}

TEST(SlowList, AListThatArrivesAfterItsWalkGaveUpServesTheNextWalk) {
    ScriptedBrowser browser({User, popupUnnamedFor(0, false)}, true, 300ms);
    Timeouts timeouts;
    timeouts.search = 5s;
    timeouts.browser = 150ms;
    CdpBrowserAutomation automation(browser.places(), timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    form.chkBeep.setValue(CheckBox::Checked);
    Timer1_Timer(form);
    EXPECT_TRUE(fake.tone.calls.empty());
    std::this_thread::sleep_for(400ms);
    Timer1_Timer(form);
    EXPECT_EQ(fake.tone.calls.size(), 1U) << "the late list was not used";
    EXPECT_EQ(browser.requests("Target.getTargets").size(), 1U);
}

// Scans now come close together (a tick right after an announced scan): a page
// the browser is still closing is not closed, listed or sounded twice.
TEST(Closing, APageBeingClosedIsPassedOverByTheNextScanAndFoundAgainLater) {
    ScriptedBrowser browser({User, popupUnnamedFor(0, false)}, false);
    Timeouts timeouts;
    timeouts.search = 5s;
    CdpBrowserAutomation automation(browser.places(), timeouts);
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    automation,      fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, fake.files};
    Quellit form(platform);
    form.chkBeep.setValue(CheckBox::Checked);
    Timer1_Timer(form);
    Timer1_Timer(form);
    automation.link().connection().call("Browser.getVersion", Json::object(), 2s);
    EXPECT_EQ(fake.tone.calls.size(), 1U);
    EXPECT_EQ(browser.requests("Target.closeTarget").size(), 1U);
    std::this_thread::sleep_for(1100ms);
    Timer1_Timer(form);
    EXPECT_EQ(fake.tone.calls.size(), 2U) << "a page the browser kept is closed again";
}

TEST(DocumentKind, HtmlTextImagesAndMediaCountSvgAndXmlDoNot) {
    struct Row {
        const char* mime;
        bool html;
    };
    const Row rows[] = {
        {"text/html", true},
        {"TEXT/HTML; charset=utf-8", true},
        {"text/plain", true},
        {"image/png", true},
        {"video/mp4", true},
        {"application/pdf", true},
        {"image/svg+xml", false},
        {"text/xml", false},
        {"application/xml", false},
        {"application/rss+xml", false},
        {"application/xhtml+xml", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(isHtmlMimeType(row.mime), row.html) << row.mime;
}

} // namespace
} // namespace tavro::cdp

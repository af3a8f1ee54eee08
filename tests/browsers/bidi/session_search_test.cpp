// Firefox is looked for away from the caller: a listener that accepts and
// never answers costs a look nothing, and a place that failed rests before it
// is asked again. A session is waited for as long as Firefox takes, and one
// that arrives after the program stopped waiting is ended. A subscription is
// not waited for. A peer that serves a session may answer anything.

#include "browsers/bidi/bidi_browser.h"
#include "platform/error.h"
#include "tests/support/scripted_endpoint.h"
#include "tests/support/silent_listener.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace tavro::bidi {
namespace {

using namespace std::chrono_literals;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using wire::Clock;
using wire::Json;
using wire::stringField;

// Accepts every connection and closes it at once, counting them.
class ClosingListener {
public:
    ClosingListener() : m_acceptor(m_io, tcp::endpoint(net::ip::address_v4::loopback(), 0)) {
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~ClosingListener() {
        m_io.stop();
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    int connections() const { return m_connections; }

private:
    void accept() {
        m_acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec)
                return;
            ++m_connections;
            socket.close();
            accept();
        });
    }

    net::io_context m_io;
    tcp::acceptor m_acceptor;
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

class SessionSearch : public ::testing::Test {
protected:
    SessionSearch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-search-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data());
    }
    ~SessionSearch() override { std::filesystem::remove_all(m_folder); }
    // The place of a Firefox that serves on the port; a folder of its own for
    // each such Firefox at once.
    FirefoxPlaces serving(std::uint16_t port, const std::string& folder = {}) const {
        std::filesystem::create_directories(m_folder + "/" + folder);
        const std::string file = m_folder + "/" + folder + "/WebDriverBiDiServer.json";
        std::ofstream(file) << R"({"ws_host": "127.0.0.1", "ws_port": )" << port << "}";
        return FirefoxPlaces{{file}};
    }

    std::string m_folder;
};

// A look that waited on the peer would last the whole start bound, five
// seconds; one that does not lasts microseconds. The bound between leaves a
// busy machine all the room it needs.
TEST_F(SessionSearch, ASilentListenerCostsALookNothing) {
    testing::SilentListener silent;
    BidiBrowserAutomation firefox(serving(silent.port()));
    for (int look = 0; look < 3; ++look) {
        const auto started = Clock::now();
        EXPECT_THROW(firefox.createShellWindows(), Error);
        EXPECT_LT(Clock::now() - started, 2s) << "look " << look << " waited on the peer";
        std::this_thread::sleep_for(200ms);
    }
}

TEST_F(SessionSearch, APlaceThatServesNoSessionRestsBeforeItIsAskedAgain) {
    ClosingListener closing;
    BidiBrowserAutomation firefox(serving(closing.port()));
    std::this_thread::sleep_for(1500ms);
    EXPECT_THROW(firefox.createShellWindows(), Error);
    EXPECT_EQ(closing.connections(), 1) << "asked again before its rest was over";
}

// A Firefox that is starting, or whose page loops, takes seconds to start a
// session. It is waited for; and a session it starts after the program has
// stopped waiting is ended all the same, or Firefox would refuse every other
// client until it is restarted.
TEST_F(SessionSearch, ASlowSessionIsWaitedForAndEndedEvenWhenItComesTooLate) {
    struct Row {
        const char* name;
        std::chrono::milliseconds answerAfter;
        std::chrono::milliseconds programEndsAfter;
        bool served;
    };
    const Row rows[] = {
        {"slow", 1500ms, 3s, true},
        {"after the program ended", 1200ms, 200ms, false},
        {"as late as a starting Firefox", 4500ms, 200ms, false},
    };
    // Each row waits for seconds: they run side by side.
    const auto run = [this](const Row& row) {
        std::mutex mutex;
        std::vector<std::string> methods;
        testing::ScriptedEndpoint peer(
            [&](const Json& request, const testing::ScriptedEndpoint::Reply& reply) {
                const std::string method = stringField(request, "method");
                {
                    const std::lock_guard lock(mutex);
                    methods.push_back(method);
                }
                Json result = Json::object();
                if (method == "session.new") {
                    std::this_thread::sleep_for(row.answerAfter);
                    result = {{"sessionId", "s"}, {"capabilities", Json::object()}};
                } else if (method == "browsingContext.getTree") {
                    result = {{"contexts", Json::array()}};
                }
                reply({{"type", "success"}, {"id", request["id"]}, {"result", result}});
                return true;
            });
        {
            BidiBrowserAutomation firefox(serving(peer.port(), row.name));
            std::this_thread::sleep_for(row.programEndsAfter);
            EXPECT_EQ(firefox.mirror().connected(), row.served) << row.name;
        }
        const std::lock_guard lock(mutex);
        EXPECT_EQ(std::count(methods.begin(), methods.end(), "session.new"), 1) << row.name;
        EXPECT_EQ(std::count(methods.begin(), methods.end(), "session.end"), 1) << row.name;
    };
    std::vector<std::thread> runs;
    for (const Row& row : rows)
        runs.emplace_back(run, std::cref(row));
    for (std::thread& t : runs)
        t.join();
}

// Firefox confirms a subscription only once every page's process has taken
// it, which never happens while a page's script loops; its news flows all the
// same, so its pages are served without the confirmation.
TEST_F(SessionSearch, ASubscriptionNeverConfirmedStillServes) {
    testing::ScriptedEndpoint peer([](const Json& request, const testing::ScriptedEndpoint::Reply& reply) {
        const std::string method = stringField(request, "method");
        if (method == "session.subscribe")
            return true;
        Json result = Json::object();
        if (method == "session.new")
            result = {{"sessionId", "s"}, {"capabilities", Json::object()}};
        else if (method == "browsingContext.getTree")
            result = {{"contexts", Json::array()}};
        reply({{"type", "success"}, {"id", request["id"]}, {"result", result}});
        return true;
    });
    BidiBrowserAutomation firefox(serving(peer.port()));
    EXPECT_TRUE(firefox.mirror().waitConnected(5s));
}

// A new window asked of a peer that answers in a shape Firefox never sends
// goes on as far as it can; it never raises anything but the program's Error.
TEST_F(SessionSearch, AnOddAnswerToANewWindowIsReadWithoutHarm) {
    testing::ScriptedEndpoint peer([](const Json& request, const testing::ScriptedEndpoint::Reply& reply) {
        Json result = Json::object();
        if (stringField(request, "method") == "session.new")
            result = {{"sessionId", "s"}, {"capabilities", Json::object()}};
        else if (stringField(request, "method") == "browsingContext.getTree")
            result = {{"contexts", Json::array()}};
        else if (stringField(request, "method") == "browsingContext.create")
            result = Json::array({1, 2});
        reply({{"type", "success"}, {"id", request["id"]}, {"result", result}});
        return true;
    });
    Timeouts timeouts;
    timeouts.search = 5s;
    BidiBrowserAutomation firefox(serving(peer.port()), timeouts);
    EXPECT_NO_THROW(firefox.createBrowser()->Navigate2("http://example.test/"));
}

} // namespace
} // namespace tavro::bidi

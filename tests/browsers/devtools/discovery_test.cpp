// The places a Chromium-family browser is looked for: its port files, the
// fixed port, and what is and is not taken for a browser there.

#include "browsers/devtools/discovery.h"
#include "browsers/mirror/places.h"
#include "platform/error.h"
#include "tests/support/scripted_endpoint.h"

#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::devtools {
namespace {

using namespace std::chrono_literals;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using testing::answerTo;
using testing::ScriptedEndpoint;

// The connection found at the first place that answers; raises when none does.
std::unique_ptr<wire::WebSocket> connectTo(const BrowserPlaces& places) {
    browsers::PlaceBackoff backoff;
    browsers::Found found = browsers::connectToFirst(placesOf(places), backoff, 1s);
    if (!found.connection)
        throw Error(errc::AutomationError, "no browser found");
    return std::move(found.connection);
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
    auto c = connectTo(places);
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
    auto c = connectTo(BrowserPlaces{{}, {endpoint.port()}});
    EXPECT_TRUE(c->call("Ping", Json::object(), 2s)["ok"].get<bool>());
    EXPECT_EQ(endpoint.connections(), 3); // two /json/version requests, one WebSocket
}

TEST(FixedPort, SomethingThatIsNotABrowserIsRefused) {
    ScriptedEndpoint endpoint([](const Json&, const ScriptedEndpoint::Reply&) { return false; },
                              "<html>hello</html>");
    EXPECT_THROW(askBrowserPath(endpoint.port(), 1s), Error);
    EXPECT_THROW(connectTo(BrowserPlaces{{}, {endpoint.port()}}), Error);
}

} // namespace
} // namespace tavro::devtools

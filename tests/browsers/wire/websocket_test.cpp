// The JSON WebSocket both browser protocols share, against a scripted
// endpoint: deadlines, late answers, answers out of order, a browser that goes
// away, and what no browser sends.

#include "browsers/wire/websocket.h"
#include "platform/error.h"
#include "tests/support/scripted_endpoint.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <thread>

namespace tavro::wire {
namespace {

using namespace std::chrono_literals;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using testing::answerTo;
using testing::ScriptedEndpoint;

TEST(WebSocket, LateAnswerIsDroppedAndDoesNotAnswerTheNextCall) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        if (request["method"] == "Slow")
            std::this_thread::sleep_for(1500ms);
        reply(answerTo(request, {{"method", request["method"]}}));
        return true;
    });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Slow", Json::object(), 50ms), Error);
    EXPECT_LT(Clock::now() - started, 1s) << "the call waited for the answer past its deadline";

    // The slow answer arrives while this call waits; it must not be taken for it.
    EXPECT_EQ(c->call("Fast", Json::object(), 5s)["method"], "Fast");
    EXPECT_TRUE(c->isOpen());
}

TEST(WebSocket, PipelinedAnswersFindTheirCallsInAnyOrder) {
    std::vector<Json> held;
    ScriptedEndpoint endpoint([&](const Json& request, const ScriptedEndpoint::Reply& reply) {
        held.push_back(request);
        if (held.size() == 3) {
            for (auto it = held.rbegin(); it != held.rend(); ++it)
                reply(answerTo(*it, {{"echo", (*it)["params"]["n"]}}));
        }
        return true;
    });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    std::vector<Json> answers(3);
    int arrived = 0;
    for (int n = 1; n <= 3; ++n) {
        c->send("Echo", {{"n", n}}, n == 3 ? "session-1" : "", [&answers, &arrived, n](Json answer) {
            answers[static_cast<std::size_t>(n - 1)] = resultOf(std::move(answer));
            ++arrived;
        });
    }
    const auto deadline = Clock::now() + 2s;
    while (arrived < 3 && Clock::now() < deadline)
        c->runUntil(std::min(deadline, Clock::now() + 20ms));
    ASSERT_EQ(arrived, 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(answers[static_cast<std::size_t>(n - 1)]["echo"], n);
    EXPECT_EQ(held[2]["sessionId"], "session-1");
}

TEST(WebSocket, ErrorAnswerRaisesTheBrowsersMessage) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        reply({{"id", request["id"]}, {"error", {{"code", -32000}, {"message", "No target with given id"}}}});
        return true;
    });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    try {
        c->call("Target.closeTarget", {{"targetId", "gone"}}, 2s);
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.description(), "No target with given id");
    }
}

TEST(WebSocket, BrowserThatGoesAwayEndsWaitingAtOnce) {
    ScriptedEndpoint endpoint([](const Json&, const ScriptedEndpoint::Reply&) { return false; });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Target.getTargets", Json::object(), 5s), Error);
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_FALSE(c->isOpen());
    EXPECT_THROW(c->call("Target.getTargets", Json::object(), 5s), Error);
}

TEST(WebSocket, EventsReachTheirHandlerAndAnswersDoNot) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        reply({{"method", "Target.targetDestroyed"}, {"params", {{"targetId", "T1"}}}});
        reply(answerTo(request, Json::object()));
        return true;
    });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    std::vector<std::string> events;
    c->onEvent = [&](const Json& e) { events.push_back(e["method"].get<std::string>()); };
    c->call("Target.setDiscoverTargets", {{"discover", true}}, 2s);
    EXPECT_EQ(events, std::vector<std::string>{"Target.targetDestroyed"});
}

TEST(WebSocket, MessageOverTheCapIsRefusedFromItsHeaderAndTheConnectionDropped) {
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
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    const auto started = Clock::now();
    EXPECT_THROW(c->call("Huge", Json::object(), 5s), Error);
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_FALSE(c->isOpen());
    EXPECT_TRUE(c->refused()) << "the place must rest";
}

TEST(WebSocket, AMessageNestedDeeperThanTheLimitDropsThePeer) {
    ScriptedEndpoint endpoint([](const Json& request, const ScriptedEndpoint::Reply& reply) {
        Json deep = Json::array();
        for (int level = 0; level < 2 * MaxJsonDepth; ++level)
            deep = Json::array({std::move(deep)});
        reply(answerTo(request, {{"r", std::move(deep)}}));
        return true;
    });
    auto c = WebSocket::open(endpoint.port(), endpoint.path(), 2s);
    EXPECT_THROW(c->call("Deep", Json::object(), 2s), Error);
    EXPECT_FALSE(c->isOpen());
    EXPECT_TRUE(c->refused());
}

TEST(WebSocket, MessagesNestedDeeperThanTheLimitAreRefused) {
    auto nested = [](int depth) {
        return R"({"id":1,"result":)" + std::string(static_cast<std::size_t>(depth - 1), '[') +
               std::string(static_cast<std::size_t>(depth - 1), ']') + "}";
    };
    EXPECT_TRUE(parseMessage(nested(MaxJsonDepth)).has_value());
    EXPECT_FALSE(parseMessage(nested(MaxJsonDepth + 1)).has_value());
    EXPECT_FALSE(parseMessage(nested(100000)).has_value());
    // Brackets inside strings, escaped quotes among them, are text.
    EXPECT_TRUE(parseMessage(R"({"url":")" + std::string(200, '[') + R"(\"{"})").has_value());
    EXPECT_FALSE(parseMessage("[1]").has_value()) << "a message is an object";
}

TEST(WebSocket, NothingListeningFailsWithinTheTimeout) {
    std::uint16_t port = 0;
    {
        net::io_context io;
        tcp::acceptor acceptor(io, tcp::endpoint(net::ip::address_v4::loopback(), 0));
        port = acceptor.local_endpoint().port();
    }
    EXPECT_THROW(WebSocket::open(port, "/devtools/browser/x", 500ms), Error);
}

} // namespace
} // namespace tavro::wire

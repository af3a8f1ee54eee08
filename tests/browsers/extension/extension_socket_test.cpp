#include "browsers/wire/extension_socket.h"
#include "browsers/wire/socket_place.h"
#include "platform/error.h"
#include "tests/support/frame_peer.h"
#include "tests/support/socket_journal.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro::wire {
namespace {

using testing::FramePeer;
using testing::SocketJournal;

struct TemporaryFolder {
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-extension-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

std::string nested(int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']');
}

class ExtensionSocketTest : public ::testing::Test {
protected:
    void start(ExtensionSocketLimits limits = {}) {
        std::string why;
        path = socketPathIn(runtime.path, &why);
        ASSERT_FALSE(path.empty()) << why;
        socket = std::make_unique<ExtensionSocket>(path, journal.events(), limits);
    }
    // A peer whose connection the socket has taken.
    FramePeer connect() {
        const std::size_t before = journal.now().connected.size();
        FramePeer peer = FramePeer::connectTo(path);
        EXPECT_TRUE(journal.waitFor([&](const auto& e) { return e.connected.size() > before; }));
        return peer;
    }

    TemporaryFolder runtime;
    std::string path;
    SocketJournal journal;
    std::unique_ptr<ExtensionSocket> socket;
};

TEST_F(ExtensionSocketTest, AMessageRoundTripsAndTheEndIsTold) {
    start();
    FramePeer peer = connect();
    const ConnectionId id = journal.now().connected.at(0);

    ASSERT_TRUE(peer.writeFrame(R"({"type":"hello","protocol":1,"browser":"chromium","extension":"2.7.0"})"));
    ASSERT_TRUE(journal.waitFor([](const auto& e) { return !e.messages.empty(); }));
    EXPECT_EQ(journal.now().messages.at(0).connection, id);
    EXPECT_EQ(journal.now().messages.at(0).json.at("browser"), "chromium");

    // Text that is not UTF-8 would make the browser refuse the whole message.
    const Json close = {{"type", "close"}, {"tab", 7}, {"note", "caf\xc3"}};
    ASSERT_TRUE(socket->send(id, close));
    const std::optional<std::string> got = peer.readFrame();
    ASSERT_TRUE(got);
    const Json answer = Json::parse(*got);
    EXPECT_EQ(answer.at("tab"), 7);
    EXPECT_EQ(answer.at("note"), "caf\xef\xbf\xbd");

    peer.finishWriting();
    EXPECT_TRUE(journal.waitFor([&](const auto& e) { return e.closed == std::vector{id}; }));
    EXPECT_FALSE(socket->send(id, close)) << "a message for an ended connection";
}

TEST_F(ExtensionSocketTest, AMessageTheBrowserWouldRefuseIsNotSent) {
    start();
    FramePeer peer = connect();
    const ConnectionId id = journal.now().connected.at(0);
    EXPECT_FALSE(socket->send(id, {{"type", "open"}, {"url", std::string(BrowserTakesAtMostBytes, 'a')}}));
    ASSERT_TRUE(socket->send(id, {{"type", "close"}, {"tab", 1}}));
    const std::optional<std::string> got = peer.readFrame();
    ASSERT_TRUE(got);
    EXPECT_EQ(Json::parse(*got).at("type"), "close") << "the connection stays";
}

struct BadPeer {
    const char* name;
    std::string bytes;
};

// Each peer first sends a good message, which arrives, then its bad one,
// which never does; the connection is dropped.
TEST_F(ExtensionSocketTest, APeerBreakingTheBoundsIsDropped) {
    ExtensionSocketLimits limits;
    limits.messageDeadline = std::chrono::milliseconds(300);
    start(limits);

    const std::string deepest = R"({"a":)" + nested(63) + "}";
    const std::string tooDeep = R"({"a":)" + nested(64) + "}";
    const std::vector<BadPeer> peers{
        {"longer than 48 MiB, refused from its length", FramePeer::header(MaxMessageBytes + 1)},
        {"not JSON", FramePeer::header(5) + "hello"},
        {"JSON but no object", FramePeer::header(7) + "[1,2,3]"},
        {"nested 65 deep", FramePeer::header(static_cast<std::uint32_t>(tooDeep.size())) + tooDeep},
        {"cut short and stalled", FramePeer::header(100) + R"({"type":)"},
    };
    for (const BadPeer& bad : peers) {
        SCOPED_TRACE(bad.name);
        const std::size_t before = journal.now().messages.size();
        FramePeer peer = connect();
        ASSERT_TRUE(peer.writeFrame(deepest));
        ASSERT_TRUE(journal.waitFor([&](const auto& e) { return e.messages.size() == before + 1; }));
        peer.write(bad.bytes);
        EXPECT_TRUE(peer.endsWithin());
        EXPECT_TRUE(journal.waitFor([&](const auto& e) { return e.closed.size() == e.connected.size(); }));
        EXPECT_EQ(journal.now().messages.size(), before + 1);
    }
}

TEST_F(ExtensionSocketTest, AMessageCutShortByTheEndIsNotDelivered) {
    start();
    FramePeer peer = connect();
    peer.write(FramePeer::header(30) + R"({"type":"gone",)");
    peer.finishWriting();
    EXPECT_TRUE(journal.waitFor([](const auto& e) { return e.closed.size() == 1; }));
    EXPECT_TRUE(journal.now().messages.empty());
}

TEST_F(ExtensionSocketTest, ALiveListenerIsNotTakenOverButALeftoverSocketIs) {
    start();
    EXPECT_THROW(ExtensionSocket(path, {}), Error);
    socket.reset();

    // What a crashed run leaves: a socket file nobody listens on.
    const int leftover = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(leftover, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(leftover);
    start();
    FramePeer peer = connect();
    EXPECT_TRUE(peer.writeFrame(R"({"type":"tabs","tabs":[]})"));
}

TEST_F(ExtensionSocketTest, TheFolderMustBeTheUsersAlone) {
    const std::string open = runtime.path + "/tavro-popup-blocker";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    std::string why;
    EXPECT_EQ(socketPathIn(runtime.path, &why), "");
    EXPECT_NE(why.find("open to other users"), std::string::npos) << why;
    EXPECT_THROW(ExtensionSocket(open + "/extension.sock", {}), Error);
}

bool becomeNobody() {
    constexpr uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0 &&
           ::setresuid(nobody, nobody, nobody) == 0;
}

// How another user's process fares connecting: 0 connected and then told
// nothing and dropped, 1 connected and kept, 2 not let in at all.
int anotherUserConnects(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (!becomeNobody())
            std::_Exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, path.size());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            std::_Exit(2);
        FramePeer peer(fd);
        std::_Exit(peer.endsWithin() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ExtensionSocketTest, AnotherUsersProcessIsNotServed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to play another user";
    start();
    EXPECT_EQ(anotherUserConnects(path), 2) << "the private folder keeps it out";
    // Opened on purpose: the peer itself is checked.
    ASSERT_EQ(::chmod(runtime.path.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(std::filesystem::path(path).parent_path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    EXPECT_EQ(anotherUserConnects(path), 0);
    EXPECT_TRUE(journal.now().connected.empty());
}

} // namespace
} // namespace tavro::wire

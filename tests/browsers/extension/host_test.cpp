#include "browsers/wire/frames.h"
#include "browsers/wire/socket_place.h"
#include "tests/support/frame_peer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavro::wire {
namespace {

using testing::FramePeer;
using namespace std::chrono_literals;

// The host as the browser starts it, its standard input and output one end
// of a socket pair that the test holds as the browser.
class HostProcess {
public:
    explicit HostProcess(const std::string& runtime) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("no socket pair");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(ends[1], 0);
            ::dup2(ends[1], 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            ::execl(TAVRO_HOST, TAVRO_HOST, "chrome-extension://test/", nullptr);
            std::_Exit(127);
        }
        ::close(ends[1]);
        browser.emplace(ends[0]);
    }
    ~HostProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // The exit status once the host ended by itself, or -1 when it did not.
    int exitStatus() {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    std::optional<FramePeer> browser;

private:
    pid_t m_pid = -1;
};

// The program's end of the socket, held raw, so that what the host sends is
// seen byte for byte and the program can break the bounds.
class ProgramListener {
public:
    explicit ProgramListener(const std::string& path)
        : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, path.size());
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_fd, 4) != 0)
            throw std::runtime_error("cannot listen at " + path);
    }
    ~ProgramListener() { ::close(m_fd); }
    ProgramListener(const ProgramListener&) = delete;
    ProgramListener& operator=(const ProgramListener&) = delete;

    FramePeer accept() { return FramePeer(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)); }

private:
    int m_fd;
};

class HostTest : public ::testing::Test {
protected:
    HostTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-host-XXXXXX").string();
        runtime = ::mkdtemp(pattern.data());
        path = socketPathIn(runtime);
    }
    ~HostTest() override { std::filesystem::remove_all(runtime); }

    std::string runtime;
    std::string path;
};

const std::string Absent = R"({"type":"absent"})";

TEST_F(HostTest, WithoutTheProgramItTellsTheExtensionAndEnds) {
    HostProcess host(runtime);
    EXPECT_EQ(host.browser->readFrame(), Absent);
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST_F(HostTest, ItRelaysBothWaysUnchangedAndEndsWithTheBrowser) {
    ProgramListener listener(path);
    HostProcess host(runtime);
    FramePeer program = listener.accept();

    const std::string hello = R"({ "type" : "hello", "protocol":1, "browser":"chromium", "note":"voilà" })";
    ASSERT_TRUE(host.browser->writeFrame(hello));
    EXPECT_EQ(program.readFrame(), hello);
    const std::string big =
        R"({"type":"open","url":")" + std::string(BrowserTakesAtMostBytes - 40, 'a') + "\"}";
    ASSERT_TRUE(program.writeFrame(big));
    EXPECT_EQ(host.browser->readFrame(), big) << "a message just within the bound";

    host.browser->finishWriting();
    EXPECT_TRUE(program.endsWithin());
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST_F(HostTest, WhenTheProgramEndsTheExtensionIsTold) {
    ProgramListener listener(path);
    HostProcess host(runtime);
    { FramePeer program = listener.accept(); }
    EXPECT_EQ(host.browser->readFrame(), Absent);
    EXPECT_EQ(host.exitStatus(), 0);
}

struct BadMessage {
    const char* name;
    std::string bytes;
};

// longest: what the receiving side takes.
std::vector<BadMessage> badMessages(std::size_t longest) {
    const std::string tooDeep = R"({"a":)" + std::string(64, '[') + std::string(64, ']') + "}";
    return {
        {"longer than the receiver takes",
         FramePeer::header(static_cast<std::uint32_t>(longest + 1)) + std::string(1000, ' ')},
        {"not JSON", FramePeer::header(4) + "nope"},
        {"JSON but no object", FramePeer::header(2) + "42"},
        {"nested 65 deep", FramePeer::header(static_cast<std::uint32_t>(tooDeep.size())) + tooDeep},
    };
}

// A bad message from either side goes no further, and ends the relay.
TEST_F(HostTest, ABadMessageFromTheBrowserNeverReachesTheProgram) {
    std::vector<BadMessage> cases = badMessages(MaxMessageBytes);
    cases.push_back({"cut short by the end", FramePeer::header(50) + R"({"type":)"});
    for (const BadMessage& bad : cases) {
        SCOPED_TRACE(bad.name);
        ProgramListener listener(path);
        HostProcess host(runtime);
        FramePeer program = listener.accept();
        host.browser->write(bad.bytes);
        host.browser->finishWriting();
        EXPECT_EQ(program.readFrame(), std::nullopt);
        EXPECT_NE(host.exitStatus(), -1);
        std::filesystem::remove(path);
    }
}

TEST_F(HostTest, ABadMessageFromTheProgramNeverReachesTheBrowser) {
    for (const BadMessage& bad : badMessages(BrowserTakesAtMostBytes)) {
        SCOPED_TRACE(bad.name);
        ProgramListener listener(path);
        HostProcess host(runtime);
        FramePeer program = listener.accept();
        program.write(bad.bytes);
        EXPECT_EQ(host.browser->readFrame(), std::nullopt) << "nothing, not even that the program is absent";
        EXPECT_EQ(host.exitStatus(), 1);
        EXPECT_TRUE(program.endsWithin());
        std::filesystem::remove(path);
    }
}

} // namespace
} // namespace tavro::wire

#include "platform/error.h"
#include "platform/localsocket/help_protocol.h"
#include "platform/localsocket/local_socket_help_viewer.h"
#include "tests/help/qt_app.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavro {
namespace {

const std::string HelpFile = TAVRO_HELP_FILE;

// The real viewer program on a socket of the test's own, so that a viewer the
// user has open is never touched.
class HelpViewerProcess : public testing::Test {
protected:
    static void SetUpTestSuite() { testing_qt::ensureApplication(); }

    void TearDown() override {
        // Whatever a failed test left running: every owner it may have used lets go.
        for (WindowHandle owner : {1, 2, 3})
            viewer.WinHelp(owner, HelpFile, HELP_QUIT, 0);
        // A quit with no viewer to take it starts one to hand it over, which
        // ends once it finds the socket's lock free: it cannot once the test's
        // folder is gone, and would live on for seconds, holding the output
        // that ctest waits on. None may outlive the test.
        const auto allGone = [this] {
            return !status() && !QFile::exists(socket + QStringLiteral(".lock")) &&
                   viewersOnTheSocket().empty();
        };
        const QDeadlineTimer deadline(10000);
        while (!allGone() && !deadline.hasExpired())
            QThread::msleep(20);
        for (const pid_t left : viewersOnTheSocket()) {
            std::printf("a viewer was left running on the test's socket: %d\n", static_cast<int>(left));
            ::kill(left, SIGKILL);
        }
    }

    std::optional<QJsonObject> status() const {
        return helpsocket::exchange(socket, {QStringLiteral("test"), {}, helpsocket::StatusCommand, 0}, 2000);
    }
    QString page() const {
        const auto reply = status();
        return reply ? reply->value(QStringLiteral("page")).toString() : QStringLiteral("<no viewer>");
    }
    // A request that starts the viewer returns before the viewer is up.
    bool waitForViewer() const {
        const QDeadlineTimer deadline(10000);
        while (!status()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(20);
        }
        return true;
    }
    // Gone means no answer on the socket and the viewer's lock released.
    bool waitUntilGone() const {
        const QDeadlineTimer deadline(10000);
        while (status() || QFile::exists(socket + QStringLiteral(".lock"))) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    // The viewer processes started for the test's socket, as their command lines tell.
    std::vector<pid_t> viewersOnTheSocket() const {
        std::vector<pid_t> found;
        const QByteArray wanted = QByteArrayLiteral("--socket") + '\0' + QFile::encodeName(socket) + '\0';
        for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool isPid = false;
            const int pid = name.toInt(&isPid);
            QFile cmdline(QStringLiteral("/proc/") + name + QStringLiteral("/cmdline"));
            if (isPid && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(wanted))
                found.push_back(static_cast<pid_t>(pid));
        }
        return found;
    }

    QTemporaryDir dir;
    QString socket = dir.filePath(QStringLiteral("viewer"));
    LocalSocketHelpViewer viewer{QStringLiteral(TAVRO_HELP_VIEWER), socket};
};

TEST_F(HelpViewerProcess, AQuitStartsNothing) {
    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_QUIT, 0), 0);
    EXPECT_FALSE(status());
}

TEST_F(HelpViewerProcess, StartsOnRequestShowsPagesAndEndsWithTheLastOwner) {
    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTENTS, 0), 1);
    ASSERT_TRUE(waitForViewer());
    auto reply = status();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value(QStringLiteral("page")).toString(), QStringLiteral("contents"));
    EXPECT_TRUE(reply->value(QStringLiteral("visible")).toBool());
    EXPECT_EQ(reply->value(QStringLiteral("owners")).toInt(), 1) << "the request it was started for counts";
    EXPECT_EQ(reply->value(QStringLiteral("title")).toString(), QStringLiteral("Tavro Popup Blocker Help"));

    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTEXT, 110), 1);
    reply = status();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value(QStringLiteral("page")).toString(), QStringLiteral("110"));
    EXPECT_EQ(reply->value(QStringLiteral("title")).toString(),
              QStringLiteral("Aggressive Blocking - Tavro Popup Blocker Help"));

    // A second program asks for help; the first one's quit leaves the viewer to it.
    EXPECT_EQ(viewer.WinHelp(2, HelpFile, HELP_CONTEXT, 100), 1);
    EXPECT_EQ(page(), QStringLiteral("100"));
    viewer.WinHelp(1, HelpFile, HELP_QUIT, 0);
    reply = status();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value(QStringLiteral("owners")).toInt(), 1);

    // An owner that never asked changes nothing.
    viewer.WinHelp(3, HelpFile, HELP_QUIT, 0);
    EXPECT_EQ(page(), QStringLiteral("100"));

    viewer.WinHelp(2, HelpFile, HELP_QUIT, 0);
    EXPECT_TRUE(waitUntilGone());
}

// The program may end before the viewer it started listens; its quit must
// still reach the viewer, or the viewer would wait for it for ever.
TEST_F(HelpViewerProcess, AQuitRightAfterTheStartEndsTheViewer) {
    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTENTS, 0), 1);
    viewer.WinHelp(1, HelpFile, HELP_QUIT, 0);
    EXPECT_TRUE(waitUntilGone());
}

TEST_F(HelpViewerProcess, ReportsAMissingFileAndAMissingTopicInItsWindow) {
    const std::string missing = dir.filePath(QStringLiteral("QuellitProject.HLP")).toStdString();
    EXPECT_EQ(viewer.WinHelp(1, missing, HELP_CONTENTS, 0), 1);
    ASSERT_TRUE(waitForViewer());
    EXPECT_EQ(page(), QStringLiteral("no-file"));

    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTEXT, 999), 1);
    EXPECT_EQ(page(), QStringLiteral("missing-topic"));
    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTEXT, 20), 1);
    EXPECT_EQ(page(), QStringLiteral("20"));
}

// Two programs asking at once each start a viewer; the second one's request
// is served by the first.
TEST_F(HelpViewerProcess, ASecondViewerLeavesTheSocketToTheFirstAndHandsItItsRequest) {
    ASSERT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTENTS, 0), 1);
    ASSERT_TRUE(waitForViewer());
    QProcess second;
    const helpsocket::Request request{QStringLiteral("other:2"), QString::fromStdString(HelpFile),
                                      HELP_CONTEXT, 100};
    second.start(QStringLiteral(TAVRO_HELP_VIEWER),
                 {QStringLiteral("--socket"), socket, QStringLiteral("--request"),
                  QString::fromUtf8(helpsocket::encode(request).trimmed())});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    const auto reply = status();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value(QStringLiteral("page")).toString(), QStringLiteral("100"));
    EXPECT_EQ(reply->value(QStringLiteral("owners")).toInt(), 2);
    helpsocket::exchange(socket, {QStringLiteral("other:2"), {}, HELP_QUIT, 0}, 2000);
}

TEST_F(HelpViewerProcess, AViewerThatCannotStartIsAnError) {
    LocalSocketHelpViewer absent{dir.filePath(QStringLiteral("no-such-viewer")), socket};
    try {
        absent.WinHelp(1, HelpFile, HELP_CONTENTS, 0);
        FAIL() << "no error raised";
    } catch (const Error& error) {
        EXPECT_EQ(error.number(), errc::FileNotFound);
        EXPECT_NE(error.description().find("no-such-viewer"), std::string::npos);
    }
}

TEST_F(HelpViewerProcess, AStuckViewerIsAnErrorWithoutAStart) {
    // Listening but never answering: the connection is taken, no reply comes.
    QLocalServer stuck;
    ASSERT_TRUE(stuck.listen(socket));
    LocalSocketHelpViewer asking{dir.filePath(QStringLiteral("no-such-viewer")), socket};
    QElapsedTimer held;
    held.start();
    try {
        asking.WinHelp(1, HelpFile, HELP_CONTEXT, 10);
        FAIL() << "no error raised";
    } catch (const Error& error) {
        EXPECT_EQ(error.number(), errc::AutomationError) << error.description();
    }
    std::printf("a stuck viewer held the caller %lld ms\n", static_cast<long long>(held.elapsed()));
    EXPECT_EQ(asking.WinHelp(1, HelpFile, HELP_QUIT, 0), 0);
    stuck.close();
}

// The other end of a socket, in plain system calls so that a child process
// of another user can play it.
int listenAt(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0)
        return -1;
    return fd;
}

int connectTo(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

// Accepts one connection and answers its request, whatever it asked, then
// waits for the asker to hang up.
void answerOnce(int listener, const std::string& reply) {
    const int peer = ::accept(listener, nullptr, nullptr);
    char byte = 0;
    while (peer >= 0 && ::read(peer, &byte, 1) == 1 && byte != '\n') {
    }
    std::size_t done = 0;
    while (peer >= 0 && done < reply.size()) {
        // The asker may hang up first; that must not end the test.
        const ssize_t n = ::send(peer, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    while (peer >= 0 && ::read(peer, &byte, 1) == 1) {
    }
    ::close(peer);
}

bool becomeNobody() {
    constexpr uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0 &&
           ::setresuid(nobody, nobody, nobody) == 0;
}

const helpsocket::Request StatusRequest{QStringLiteral("test"), {}, helpsocket::StatusCommand, 0};

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST(HelpSocketPlace, OnlyAFolderOfTheUsersAloneHoldsTheSocket) {
    QTemporaryDir base;
    const QString missing = base.filePath(QStringLiteral("missing"));
    EXPECT_TRUE(helpsocket::ensurePrivateFolder(missing));
    EXPECT_EQ(modeOf(missing), 0700U);
    EXPECT_TRUE(helpsocket::ensurePrivateFolder(missing)) << "and it stays acceptable";

    const QString open = base.filePath(QStringLiteral("open"));
    ::mkdir(QFile::encodeName(open).constData(), 0705);
    const QString link = base.filePath(QStringLiteral("link"));
    QFile::link(missing, link);
    const QString file = base.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    QString why;
    for (const QString& refused : {open, link, file}) {
        EXPECT_FALSE(helpsocket::ensurePrivateFolder(refused, &why)) << refused.toStdString();
        EXPECT_TRUE(why.startsWith(refused)) << why.toStdString();
    }

    // Where Qt has no runtime folder, the socket goes into a private one.
    const std::optional<QByteArray> savedTemp =
        qEnvironmentVariableIsSet("TMPDIR") ? std::optional(qgetenv("TMPDIR")) : std::nullopt;
    qputenv("TMPDIR", QFile::encodeName(base.path()));
    const QString fallback = helpsocket::socketNameIn({});
    const QFileInfo folder(QFileInfo(fallback).path());
    EXPECT_EQ(folder.path(), base.path());
    EXPECT_EQ(folder.ownerId(), ::geteuid());
    EXPECT_EQ(modeOf(folder.filePath()), 0700U);
    if (::geteuid() == 0) {
        // Taken by another user first: refused, not shared.
        ASSERT_EQ(::chown(QFile::encodeName(folder.filePath()).constData(), 65534, 65534), 0);
        EXPECT_TRUE(helpsocket::socketNameIn({}, &why).isEmpty());
        EXPECT_TRUE(why.contains(QStringLiteral("another user"))) << why.toStdString();
    }
    if (savedTemp)
        qputenv("TMPDIR", *savedTemp);
    else
        qunsetenv("TMPDIR");
}

TEST(HelpSocketReply, OneLongerThanTheCapIsRefused) {
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("long"));
    const int listener = listenAt(socket);
    ASSERT_GE(listener, 0);
    const std::string padding(static_cast<std::size_t>(helpsocket::MaxReplyBytes), 'x');
    std::thread server([&] { answerOnce(listener, R"({"ok":true,"pad":")" + padding + "\"}\n"); });
    QString why;
    EXPECT_FALSE(helpsocket::exchange(socket, StatusRequest, 5000, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("too long"))) << why.toStdString();
    server.join();
    ::close(listener);
}

// Another user can reach the socket only through a folder opened for the
// purpose; what is checked then is the peer itself.
class HelpSocketPeer : public HelpViewerProcess {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to play another user";
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    }
};

TEST_F(HelpSocketPeer, TheProgramRefusesAViewerOfAnotherUser) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int listener = becomeNobody() ? listenAt(socket) : -1;
        if (listener >= 0)
            answerOnce(listener, "{\"ok\":true}\n");
        std::_Exit(0);
    }
    const QDeadlineTimer deadline(5000);
    while (!QFile::exists(socket) && !deadline.hasExpired())
        QThread::msleep(10);
    QString why;
    EXPECT_FALSE(helpsocket::exchange(socket, StatusRequest, 2000, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("another user"))) << why.toStdString();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST_F(HelpSocketPeer, TheViewerTellsAnotherUserNothing) {
    ASSERT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTENTS, 0), 1);
    ASSERT_TRUE(waitForViewer());
    ASSERT_EQ(::chmod(QFile::encodeName(socket).constData(), 0666), 0);
    const QByteArray request = helpsocket::encode(StatusRequest);
    EXPECT_EXIT(
        {
            const int fd = becomeNobody() ? connectTo(socket) : -1;
            if (fd < 0)
                std::_Exit(2);
            // The viewer may drop the connection before the request is written:
            // that too tells nothing.
            if (::send(fd, request.constData(), static_cast<std::size_t>(request.size()), MSG_NOSIGNAL) !=
                request.size())
                std::_Exit(0);
            char byte = 0;
            std::_Exit(::read(fd, &byte, 1) > 0 ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(page(), QStringLiteral("contents")) << "the user is still served";
}

} // namespace
} // namespace tavro

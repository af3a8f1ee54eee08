#include "platform/error.h"
#include "platform/localsocket/help_protocol.h"
#include "platform/localsocket/local_socket_help_viewer.h"
#include "tests/help/qt_app.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

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
        waitUntilGone();
    }

    std::optional<QJsonObject> status() const {
        return helpsocket::exchange(socket, {QStringLiteral("test"), {}, helpsocket::StatusCommand, 0}, 2000);
    }
    QString page() const {
        const auto reply = status();
        return reply ? reply->value(QStringLiteral("page")).toString() : QStringLiteral("<no viewer>");
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
    auto reply = status();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value(QStringLiteral("page")).toString(), QStringLiteral("contents"));
    EXPECT_TRUE(reply->value(QStringLiteral("visible")).toBool());
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

TEST_F(HelpViewerProcess, ReportsAMissingFileAndAMissingTopicInItsWindow) {
    const std::string missing = dir.filePath(QStringLiteral("QuellitProject.HLP")).toStdString();
    EXPECT_EQ(viewer.WinHelp(1, missing, HELP_CONTENTS, 0), 1);
    EXPECT_EQ(page(), QStringLiteral("no-file"));

    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTEXT, 999), 1);
    EXPECT_EQ(page(), QStringLiteral("missing-topic"));
    EXPECT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTEXT, 20), 1);
    EXPECT_EQ(page(), QStringLiteral("20"));
}

TEST_F(HelpViewerProcess, ASecondViewerLeavesTheSocketToTheFirst) {
    ASSERT_EQ(viewer.WinHelp(1, HelpFile, HELP_CONTENTS, 0), 1);
    QProcess second;
    second.start(QStringLiteral(TAVRO_HELP_VIEWER), {QStringLiteral("--socket"), socket});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(page(), QStringLiteral("contents"));
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
    LocalSocketHelpViewer asking{dir.filePath(QStringLiteral("no-such-viewer")), socket, 300};
    try {
        asking.WinHelp(1, HelpFile, HELP_CONTEXT, 10);
        FAIL() << "no error raised";
    } catch (const Error& error) {
        EXPECT_EQ(error.number(), errc::AutomationError) << error.description();
    }
    EXPECT_EQ(asking.WinHelp(1, HelpFile, HELP_QUIT, 0), 0);
    stuck.close();
}

} // namespace
} // namespace tavro

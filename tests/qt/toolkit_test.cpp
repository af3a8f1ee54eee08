#include "platform/error.h"
#include "platform/qt/qt_toolkit.h"
#include "tests/qt/qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro {
namespace {

using qttest::RecordingEvents;

class ToolkitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qttest::ensureApplication(); }
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString lockPath() const { return folder.filePath(QStringLiteral("run/tavro.lock")); }

    QTemporaryDir folder;
};

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultButton;
    int ticksWhileOpen = 0;
};

// Answers the next message box by pressing the named button, after it has
// waited for the given number of timer ticks.
void answerNextBox(SeenBox& seen, QMessageBox::StandardButton press, const RecordingEvents* events = nullptr,
                   int ticks = 0) {
    QTimer::singleShot(20, [&seen, press, events, ticks] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (events)
            qttest::processUntil([&] { return events->ticks >= ticks; }, 3000);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.ticksWhileOpen = events ? events->ticks : 0;
        box->button(press)->click();
    });
}

TEST_F(ToolkitTest, MessageBoxesAnswerWithTheButtonPressed) {
    qt::QtToolkit toolkit(lockPath());
    const struct {
        MessageBoxRequest request;
        QMessageBox::StandardButton press;
        MessageAnswer answer;
        QString title;
        QMessageBox::Icon icon;
    } cases[] = {
        {{"Add a.example to Allowed Domains?", MessageButtons::YesNo, MessageIcon::None, ""},
         QMessageBox::Yes,
         MessageAnswer::Yes,
         QStringLiteral("Tavro Popup Blocker"),
         QMessageBox::NoIcon},
        {{"Remove b.example?", MessageButtons::YesNo, MessageIcon::None, ""},
         QMessageBox::No,
         MessageAnswer::No,
         QStringLiteral("Tavro Popup Blocker"),
         QMessageBox::NoIcon},
        {{"Run-time error '53'", MessageButtons::Ok, MessageIcon::Critical, ""},
         QMessageBox::Ok,
         MessageAnswer::Ok,
         QStringLiteral("Tavro Popup Blocker"),
         QMessageBox::Critical},
        {{"No help", MessageButtons::Ok, MessageIcon::Information, "Own title"},
         QMessageBox::Ok,
         MessageAnswer::Ok,
         QStringLiteral("Own title"),
         QMessageBox::Information},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.text);
        SeenBox seen;
        answerNextBox(seen, c.press);
        EXPECT_EQ(toolkit.messageBox(c.request), c.answer);
        EXPECT_EQ(seen.title, c.title);
        EXPECT_EQ(seen.text, QString::fromStdString(c.request.text));
        EXPECT_EQ(seen.icon, c.icon);
        if (c.request.buttons == MessageButtons::YesNo) {
            EXPECT_EQ(
                seen.defaultButton,
                QMessageBox(QMessageBox::NoIcon, {}, {}, QMessageBox::Yes).button(QMessageBox::Yes)->text());
        }
    }
}

TEST_F(ToolkitTest, TimerTicksGoOnWhileABoxWaits) {
    qt::QtToolkit toolkit(lockPath());
    RecordingEvents events;
    toolkit.window().setEvents(&events);
    SeenBox seen;
    answerNextBox(seen, QMessageBox::Ok, &events, 1);
    toolkit.messageBox({"Waiting", MessageButtons::Ok, MessageIcon::None, ""});
    EXPECT_GE(seen.ticksWhileOpen, 1);
    toolkit.window().setEvents(nullptr);
}

TEST_F(ToolkitTest, AnEventLoopEndedFromOutsideUnloadsWithReasonTwo) {
    qt::QtToolkit toolkit(lockPath());
    RecordingEvents events;
    toolkit.window().setEvents(&events);
    toolkit.window().show();
    // What the desktop session's end does to the program when it gives no warning.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    EXPECT_EQ(events.log.back(), "Unload");
    EXPECT_TRUE(events.saw("QueryUnload 2"));
    EXPECT_TRUE(toolkit.window().ended());
    toolkit.window().setEvents(nullptr);
}

// Handlers never overlap: a termination request that comes while a handler
// waits for an answer is taken once that handler is done.
TEST_F(ToolkitTest, ACloseFromOutsideWaitsForTheHandlerInAMessageBox) {
    qt::QtToolkit toolkit(lockPath());
    RecordingEvents events;
    toolkit.window().setEvents(&events);
    toolkit.window().show();
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(10'000);
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(100, [&] { toolkit.window().close(CloseReason::TaskManager); });
        const MessageAnswer answer = toolkit.messageBox(
            {"Add a.example to Allowed Domains?", MessageButtons::YesNo, MessageIcon::None, ""});
        events.log.push_back(answer == MessageAnswer::No ? "handler done after No"
                                                         : "handler done after Yes");
    });
    EXPECT_EQ(QApplication::exec(), 0);
    std::erase(events.log, "Paint");
    EXPECT_EQ(events.log, (std::vector<std::string>{"handler done after No", "QueryUnload 3", "Unload"}));
    EXPECT_TRUE(toolkit.window().ended());
    toolkit.window().setEvents(nullptr);
}

TEST_F(ToolkitTest, ProgramFolderIsTheExecutablesRealFolder) {
    qt::QtToolkit toolkit(lockPath());
    char buffer[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    ASSERT_GT(n, 0);
    std::string exe(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(toolkit.programFolder(), exe.substr(0, exe.rfind('/')));
}

TEST_F(ToolkitTest, AnotherInstanceIsSeenWhileItHoldsTheLock) {
    qt::QtToolkit first(lockPath());
    EXPECT_FALSE(first.anotherInstanceRunning());
    // Asking again does not find ourselves.
    EXPECT_FALSE(first.anotherInstanceRunning());
    {
        qt::QtToolkit second(lockPath());
        EXPECT_TRUE(second.anotherInstanceRunning());
    }
}

TEST_F(ToolkitTest, ALockLeftByADeadProcessIsStale) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(lockPath()).absolutePath()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Takes the lock and dies without giving it back, as a crash would.
        QLockFile lock(lockPath());
        lock.setStaleLockTime(0);
        ::_exit(lock.tryLock(0) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(QFile::exists(lockPath()));

    qt::QtToolkit toolkit(lockPath());
    EXPECT_FALSE(toolkit.anotherInstanceRunning());
}

TEST_F(ToolkitTest, ALockThatCannotBeMadeIsAnError) {
    qt::QtToolkit toolkit(QStringLiteral("/proc/tavro-no-such-folder/tavro.lock"));
    EXPECT_THROW(toolkit.anotherInstanceRunning(), Error);
}

// Where the desktop gives no runtime folder, the lock goes into a folder of a
// guessable name beside the temporary files; one that another user made first,
// open to all, must not decide whether the program starts.
TEST_F(ToolkitTest, AFallbackLockFolderOpenToOthersIsRefused) {
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(folder.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    // A file where Qt would make its own runtime folder: Qt then reports none.
    QFile blocker(folder.filePath(
        QStringLiteral("runtime-%1").arg(qEnvironmentVariable("USER", QStringLiteral("root")))));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString fallback = folder.filePath(QStringLiteral("tavro-popup-blocker-%1").arg(::getuid()));
    ASSERT_TRUE(QDir().mkpath(fallback));
    ASSERT_EQ(::chmod(QFile::encodeName(fallback).constData(), 0777), 0);

    qt::QtToolkit toolkit;
    const bool runtimeReported = !QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).isEmpty();
    bool refused = false;
    try {
        toolkit.anotherInstanceRunning();
    } catch (const Error& e) {
        refused = e.number() == errc::PermissionDenied;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(fallback).constData(), 0700), 0);
    EXPECT_FALSE(toolkit.anotherInstanceRunning()) << "a folder of the user's alone is used";
    qputenv("TMPDIR", oldTmp);
    if (!oldRuntime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
    ASSERT_FALSE(runtimeReported) << "the test could not take the runtime folder away";
    EXPECT_TRUE(refused);
}

} // namespace
} // namespace tavro

#include "platform/qt/qt_notify_area.h"
#include "tests/qt/qt_test_support.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <tuple>
#include <utility>

namespace tavro {
namespace {

class NotifyAreaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qttest::ensureApplication(); }
    void SetUp() override {
        window.setWindowProc([this](WindowHandle, std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
            messages.emplace_back(msg, w, l);
            return std::intptr_t{0};
        });
    }

    NotifyIconData record(std::uint32_t flags, Icon icon, std::string tip) {
        NotifyIconData data;
        data.hWnd = window.hWnd();
        data.uFlags = flags;
        data.uCallbackMessage = flags ? 1400 : 0;
        data.hIcon = icon;
        data.szTip = std::move(tip);
        return data;
    }

    qt::QtMainWindow window;
    std::vector<std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>> messages;
};

TEST_F(NotifyAreaTest, AddModifyDeleteDriveOneIcon) {
    qt::QtNotifyArea area(window, [] { return true; });
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_MODIFY, record(7, Icon::Disabled, "Disabled")));

    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    ASSERT_NE(area.trayIcon(), nullptr);
    EXPECT_EQ(area.trayIcon()->toolTip(), QStringLiteral("Enabled"));
    EXPECT_FALSE(area.trayIcon()->icon().isNull());
    // Added once only.
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));

    const QImage before = area.trayIcon()->icon().pixmap(16, 16).toImage();
    EXPECT_TRUE(area.Shell_NotifyIcon(NIM_MODIFY, record(7, Icon::Disabled, "Disabled")));
    EXPECT_EQ(area.trayIcon()->toolTip(), QStringLiteral("Disabled"));
    EXPECT_NE(area.trayIcon()->icon().pixmap(16, 16).toImage(), before);

    // A record for another window changes nothing.
    NotifyIconData other = record(7, Icon::Enabled, "Enabled");
    other.hWnd = window.hWnd() + 1;
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_MODIFY, other));
    EXPECT_EQ(area.trayIcon()->toolTip(), QStringLiteral("Disabled"));

    EXPECT_TRUE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
    EXPECT_EQ(area.trayIcon(), nullptr);
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
}

TEST_F(NotifyAreaTest, MouseOnTheIconReachesTheWindowProcedure) {
    qt::QtNotifyArea area(
        window, [] { return true; }, [] { return false; });
    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    area.activated(QSystemTrayIcon::Context);
    area.activated(QSystemTrayIcon::DoubleClick);
    area.activated(QSystemTrayIcon::Trigger);
    area.activated(QSystemTrayIcon::MiddleClick);
    using M = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;
    EXPECT_EQ(messages, (std::vector<M>{{1400, 0, 517}, {1400, 0, 515}}));

    // After the delete, the icon says nothing more.
    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
    area.activated(QSystemTrayIcon::Context);
    EXPECT_EQ(messages.size(), 2U);
}

// Such a host has no double-click: its activation (a click) is the way to the window.
TEST_F(NotifyAreaTest, UnderAStatusNotifierHostAClickShowsTheWindow) {
    qt::QtNotifyArea area(
        window, [] { return true; }, [] { return true; });
    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    area.activated(QSystemTrayIcon::Trigger);
    area.activated(QSystemTrayIcon::Context);
    area.activated(QSystemTrayIcon::MiddleClick);
    using M = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;
    EXPECT_EQ(messages, (std::vector<M>{{1400, 0, 515}, {1400, 0, 517}}));
}

TEST_F(NotifyAreaTest, WithoutATrayHostTheProgramRunsWithoutAnIcon) {
    qt::QtNotifyArea area(window, [] { return false; });
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_MODIFY, record(7, Icon::Disabled, "Disabled")));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
    EXPECT_EQ(area.trayIcon(), nullptr);
}

// At login the program may start before the panel: the one icon of the start
// docks when a host appears, as the changes since made it, and a window that
// was minimized for want of it is hidden.
TEST_F(NotifyAreaTest, AnIconAddedBeforeAnyHostDocksOnceOneAppears) {
    bool host = false;
    qt::QtNotifyArea area(window, [&host] { return host; });
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_MODIFY, record(7, Icon::Disabled, "Disabled")));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled"))) << "added twice";
    window.show();
    window.hide();
    ASSERT_TRUE(window.widget()->isMinimized());

    host = true;
    ASSERT_TRUE(qttest::processUntil([&] { return area.trayIcon() != nullptr; }, 5000));
    EXPECT_EQ(area.trayIcon()->toolTip(), QStringLiteral("Disabled"));
    EXPECT_FALSE(window.widget()->isVisible()) << "the minimized window was not hidden";
    area.activated(QSystemTrayIcon::DoubleClick);
    using M = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;
    EXPECT_EQ(messages, (std::vector<M>{{1400, 0, 515}}));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled"))) << "added twice";
}

// An icon deleted (the program ended) before any host appeared never docks.
TEST_F(NotifyAreaTest, AnIconDeletedWhileWaitingNeverDocks) {
    bool host = false;
    qt::QtNotifyArea area(window, [&host] { return host; });
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    EXPECT_FALSE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
    host = true;
    EXPECT_FALSE(qttest::processUntil([&] { return area.trayIcon() != nullptr; },
                                      2 * qt::QtNotifyArea::HostPollMilliseconds));
}

// Hiding is only safe while the icon is there to bring the window back.
TEST_F(NotifyAreaTest, HidingMinimizesWhileNoIconLeadsBack) {
    bool host = true;
    qt::QtNotifyArea area(window, [&host] { return host; });
    QWidget* form = window.widget();
    const auto hideThenShow = [&] {
        window.show();
        window.hide();
        const bool minimized = form->isVisible() && form->isMinimized();
        const bool hidden = !form->isVisible();
        window.show();
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(form->isMinimized()) << "shown again, the window must not stay minimized";
        return std::pair{hidden, minimized};
    };

    EXPECT_EQ(hideThenShow(), std::pair(false, true)) << "before the icon is added";
    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_ADD, record(7, Icon::Enabled, "Enabled")));
    EXPECT_EQ(hideThenShow(), std::pair(true, false)) << "with the icon";
    host = false;
    EXPECT_EQ(hideThenShow(), std::pair(false, true)) << "after the tray host went away";
    host = true;
    ASSERT_TRUE(area.Shell_NotifyIcon(NIM_DELETE, record(0, Icon::None, "")));
    EXPECT_EQ(hideThenShow(), std::pair(false, true)) << "after the icon was deleted";
}

} // namespace
} // namespace tavro

// The watch over the browser's news, with news written as bytes to a socket
// pair: each byte read is one piece of news.

#include "platform/qt/browser_news_watch.h"
#include "tests/qt/qt_test_support.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro {
namespace {

class SocketNews final : public BrowserNews {
public:
    SocketNews() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds); }
    ~SocketNews() override {
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    void announce(int pieces = 1) {
        for (int i = 0; i < pieces; ++i)
            ASSERT_EQ(::write(m_fds[1], "n", 1), 1);
    }
    // News heard at once, as the adapter hears it in the middle of a scan.
    void hearNow() {
        m_news = true;
        m_listener();
    }

    void setListener(std::function<void()> listener) override { m_listener = std::move(listener); }
    int watchHandle() override { return m_fds[0]; }
    void readArrived() override {
        char bytes[256];
        while (::read(m_fds[0], bytes, sizeof bytes) > 0)
            m_news = true;
        if (m_news)
            m_listener();
    }
    bool takeNews() override { return std::exchange(m_news, false); }
    bool takeWaiting() override { return std::exchange(waiting, false); }
    bool waiting = false;

private:
    int m_fds[2] = {-1, -1};
    std::function<void()> m_listener;
    bool m_news = false;
};

class NewsWatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qttest::ensureApplication(); }
    void wait(int ms) {
        QElapsedTimer clock;
        clock.start();
        qttest::processUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
    }

    SocketNews news;
    // A second browser's news, as Firefox's beside Chromium's.
    SocketNews second;
    bool allowed = true;
    int scans = 0;
    int depth = 0;
    int deepest = 0;
    std::function<void()> duringScan = [] {};
    qt::BrowserNewsWatch watch{{&news, &second},
                               [this] { return allowed; },
                               [this] {
                                   ++scans;
                                   deepest = std::max(deepest, ++depth);
                                   duringScan();
                                   --depth;
                               }};
};

TEST_F(NewsWatch, ABurstGivesOneScanAtOnceAndNoQueue) {
    news.announce(50);
    ASSERT_TRUE(qttest::processUntil([&] { return scans == 1; }, 2000));
    wait(500);
    EXPECT_EQ(scans, 1) << "the burst was read as one";

    // News heard during a scan gives one more after it, never a scan within it.
    duringScan = [&] {
        if (scans == 2)
            for (int i = 0; i < 5; ++i)
                news.hearNow();
    };
    news.announce();
    wait(700);
    EXPECT_EQ(scans, 3);
    EXPECT_EQ(deepest, 1);
}

TEST_F(NewsWatch, EitherBrowsersNewsGivesAScanAndBothTogetherOne) {
    second.announce();
    ASSERT_TRUE(qttest::processUntil([&] { return scans == 1; }, 2000))
        << "the second browser is not watched";
    wait(500);
    news.announce();
    second.announce();
    wait(500);
    EXPECT_EQ(scans, 2);
}

TEST_F(NewsWatch, NewsWhileScansAreNotAllowedIsDropped) {
    allowed = false;
    news.announce(3);
    wait(400);
    allowed = true;
    wait(400);
    EXPECT_EQ(scans, 0);
}

TEST_F(NewsWatch, EndlessNewsGivesAFewScansASecond) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        news.announce();
        qttest::processUntil([] { return false; }, 5);
    }
    EXPECT_GE(scans, 3);
    EXPECT_LE(scans, 2 * (1000 / qt::BrowserNewsWatch::DefaultWindow.count() + 1));
}

// A page that opens held windows without end is judged at each gap, not only
// twice a window, and no more often.
TEST_F(NewsWatch, EndlessHeldPagesGiveOneScanPerGap) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        news.waiting = true;
        news.announce();
        qttest::processUntil([] { return false; }, 5);
    }
    const int windowed = 2 * (1000 / static_cast<int>(qt::BrowserNewsWatch::DefaultWindow.count()) + 1);
    EXPECT_GT(scans, windowed);
    EXPECT_LE(scans, 1000 / static_cast<int>(qt::BrowserNewsWatch::HeldGap.count()) + 1 + windowed);
}

// A held page's request waits on the verdict: its news waits out no window,
// while other news still does.
TEST_F(NewsWatch, AHeldPageIsJudgedWithoutWaitingOutTheWindow) {
    SocketNews held;
    int heldScans = 0;
    qt::BrowserNewsWatch slow{{&held}, [] { return true; }, [&] { ++heldScans; }, std::chrono::seconds(30)};
    held.announce();
    ASSERT_TRUE(qttest::processUntil([&] { return heldScans == 1; }, 2000));
    held.announce();
    ASSERT_TRUE(qttest::processUntil([&] { return heldScans == 2; }, 2000)) << "one more right after";
    held.announce();
    wait(300);
    EXPECT_EQ(heldScans, 2) << "ordinary news waits out the window";
    held.waiting = true;
    held.announce();
    EXPECT_TRUE(qttest::processUntil([&] { return heldScans == 3; }, 5000))
        << "a held page waited out the window";
}

} // namespace
} // namespace tavro

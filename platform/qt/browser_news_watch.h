#pragma once

#include "platform/browser.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <vector>

class QSocketNotifier;

namespace tavro::qt {

// Turns the browsers' news into scans on the user-interface thread, through
// the event loop as the timer's ticks come: never inside another handler,
// and so also while a message box waits. News is acted on only while scans
// are allowed (blocking is on). A burst of news gives one scan at once and at
// most one more right after it, never a queue; beyond that, no more than two
// announced scans start within any stretch of `window`, so a page that opens
// windows without end costs a few scans a second. News of a page that waits
// with its request for the verdict waits out no window: it is scanned at once,
// or `HeldGap` after the last scan for such news. The scans that the new
// page's own earlier news brought must not hold it up, as a tab the scan keeps
// would load that much later, and a page that opens held windows without end
// still costs no more than one scan per `HeldGap`. The browsers are told
// whether scans are allowed, so that none holds a page for a verdict that
// will not come.
class BrowserNewsWatch final : public QObject {
public:
    static constexpr std::chrono::milliseconds DefaultWindow{400};
    static constexpr std::chrono::milliseconds HeldGap{40};

    BrowserNewsWatch(std::vector<BrowserNews*> news, std::function<bool()> allowed,
                     std::function<void()> scan, std::chrono::milliseconds window = DefaultWindow);
    ~BrowserNewsWatch() override;
    BrowserNewsWatch(const BrowserNewsWatch&) = delete;
    BrowserNewsWatch& operator=(const BrowserNewsWatch&) = delete;

    // The scans run for news so far (for tests and benchmarks).
    int scans() const { return m_scans; }

private:
    using Clock = std::chrono::steady_clock;

    // One browser's news and the notifier on its handle.
    struct Source {
        BrowserNews* news;
        QSocketNotifier* notifier = nullptr;
        int handle = -1;
    };

    void heard();
    void rewatch();
    void rewatch(Source& source);
    void settle();
    void runScan();
    void judge();

    std::vector<Source> m_sources;
    std::function<bool()> m_allowed;
    std::function<void()> m_scan;
    std::chrono::milliseconds m_window;
    bool m_settlePosted = false;
    QTimer m_scanTimer;
    QTimer m_judgeTimer;
    bool m_judging = true;
    // The starts of the last two announced scans, the earlier first, and of
    // the last that judged a held page.
    Clock::time_point m_lastScans[2]{};
    Clock::time_point m_lastHeldScan{};
    bool m_heldWaits = false;
    int m_scans = 0;
};

} // namespace tavro::qt

#include "platform/qt/browser_news_watch.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <utility>

namespace tavro::qt {

BrowserNewsWatch::BrowserNewsWatch(std::vector<BrowserNews*> news, std::function<bool()> allowed,
                                   std::function<void()> scan, std::chrono::milliseconds window)
    : m_allowed(std::move(allowed)), m_scan(std::move(scan)), m_window(window) {
    m_scanTimer.setSingleShot(true);
    m_scanTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_scanTimer, &QTimer::timeout, this, [this] { runScan(); });
    // Blocking is switched on and off by the window, which tells nobody.
    QObject::connect(&m_judgeTimer, &QTimer::timeout, this, [this] { judge(); });
    m_judgeTimer.start(200);
    m_sources.reserve(news.size());
    for (BrowserNews* source : news) {
        m_sources.push_back(Source{source});
        source->setListener([this] { heard(); });
    }
    rewatch();
}

BrowserNewsWatch::~BrowserNewsWatch() {
    for (const Source& source : m_sources)
        source.news->setListener(nullptr);
}

// Called in the middle of anything, a scan among them: only the socket
// notifiers are changed here, before a closed socket's number can be reused;
// the rest waits for the event loop.
void BrowserNewsWatch::heard() {
    rewatch();
    if (m_settlePosted)
        return;
    m_settlePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_settlePosted = false;
            settle();
        },
        Qt::QueuedConnection);
}

void BrowserNewsWatch::rewatch() {
    for (Source& source : m_sources)
        rewatch(source);
}

void BrowserNewsWatch::rewatch(Source& source) {
    const int handle = source.news->watchHandle();
    if (handle == source.handle)
        return;
    if (source.notifier != nullptr) {
        // It may be the notifier whose signal is being delivered right now.
        source.notifier->setEnabled(false);
        source.notifier->deleteLater();
        source.notifier = nullptr;
    }
    source.handle = handle;
    if (handle >= 0) {
        source.notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
        // The sources never move: the vector is filled before any notifier.
        QObject::connect(source.notifier, &QSocketNotifier::activated, this, [this, &source] {
            source.news->readArrived();
            rewatch(source);
        });
    }
}

void BrowserNewsWatch::judge() {
    const bool on = m_allowed();
    if (on == m_judging)
        return;
    m_judging = on;
    for (const Source& source : m_sources)
        source.news->judging(on);
}

void BrowserNewsWatch::settle() {
    rewatch();
    judge();
    // Every source is asked, so none keeps old news for later.
    bool news = false;
    bool waiting = false;
    for (const Source& source : m_sources) {
        news = source.news->takeNews() || news;
        waiting = source.news->takeWaiting() || waiting;
    }
    // News heard while blocking is off is dropped: Disable stops these scans too.
    if (!news || !m_allowed())
        return;
    auto due = m_lastScans[0] + m_window - Clock::now();
    if (waiting) {
        m_heldWaits = true;
        due = std::min(due, m_lastHeldScan + HeldGap - Clock::now());
    }
    const auto wait =
        std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(due));
    if (m_scanTimer.isActive() && m_scanTimer.remainingTimeAsDuration() <= wait)
        return;
    m_scanTimer.start(wait);
}

void BrowserNewsWatch::runScan() {
    m_lastScans[0] = m_lastScans[1];
    m_lastScans[1] = Clock::now();
    if (std::exchange(m_heldWaits, false))
        m_lastHeldScan = m_lastScans[1];
    judge();
    if (m_judging) {
        ++m_scans;
        m_scan();
    }
    rewatch();
}

} // namespace tavro::qt

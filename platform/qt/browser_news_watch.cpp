#include "platform/qt/browser_news_watch.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>

namespace tavro::qt {

BrowserNewsWatch::BrowserNewsWatch(BrowserNews& news, std::function<bool()> allowed,
                                   std::function<void()> scan, std::chrono::milliseconds window)
    : m_news(news), m_allowed(std::move(allowed)), m_scan(std::move(scan)), m_window(window) {
    m_scanTimer.setSingleShot(true);
    m_scanTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_scanTimer, &QTimer::timeout, this, [this] { runScan(); });
    m_news.setListener([this] { heard(); });
    rewatch();
}

BrowserNewsWatch::~BrowserNewsWatch() {
    m_news.setListener(nullptr);
}

// Called in the middle of anything, a scan among them: only the socket
// notifier is changed here, before a closed socket's number can be reused;
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
    const int handle = m_news.watchHandle();
    if (handle == m_handle)
        return;
    if (m_notifier != nullptr) {
        // It may be the notifier whose signal is being delivered right now.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_handle = handle;
    if (handle >= 0) {
        m_notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { readable(); });
    }
}

void BrowserNewsWatch::readable() {
    m_news.readArrived();
    rewatch();
}

void BrowserNewsWatch::settle() {
    rewatch();
    // News heard while blocking is off is dropped: Disable stops these scans too.
    if (!m_news.takeNews() || !m_allowed() || m_scanTimer.isActive())
        return;
    const auto due = m_lastScans[0] + m_window - Clock::now();
    m_scanTimer.start(
        std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(due)));
}

void BrowserNewsWatch::runScan() {
    m_lastScans[0] = m_lastScans[1];
    m_lastScans[1] = Clock::now();
    if (m_allowed()) {
        ++m_scans;
        m_scan();
    }
    rewatch();
}

} // namespace tavro::qt

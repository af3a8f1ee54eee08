#include "platform/qt/qt_notify_area.h"

#include "platform/qt/pictures.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTimer>
#include <QWidget>

namespace tavro::qt {

namespace {

bool statusNotifierWatcherOnSessionBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* services = bus.isConnected() ? bus.interface() : nullptr;
    return services && services->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

} // namespace

QtNotifyArea::QtNotifyArea(QtMainWindow& window, std::function<bool()> trayHost,
                           std::function<bool()> statusNotifierHost)
    : m_window(window), m_trayHost(std::move(trayHost)), m_statusNotifierHost(std::move(statusNotifierHost)) {
    if (!m_trayHost)
        m_trayHost = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!m_statusNotifierHost)
        m_statusNotifierHost = statusNotifierWatcherOnSessionBus;
    // The icon is the way back to a hidden window.
    m_window.setHiddenWindowReachable([this] { return m_icon && m_trayHost(); });
}

QtNotifyArea::~QtNotifyArea() {
    m_window.setHiddenWindowReachable({});
}

void QtNotifyArea::apply(const NotifyIconData& data) {
    if (data.uFlags & NIF_ICON)
        m_icon->setIcon(iconFor(data.hIcon));
    if (data.uFlags & NIF_TIP)
        m_icon->setToolTip(QString::fromStdString(data.szTip));
    if (data.uFlags & NIF_MESSAGE)
        m_callbackMessage = data.uCallbackMessage;
}

bool QtNotifyArea::Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& data) {
    // The icon belongs to one window; a record for another window changes nothing.
    if (data.hWnd != m_window.hWnd())
        return false;
    switch (message) {
    case NIM_ADD:
        if (m_icon || !m_trayHost())
            return false;
        m_icon = std::make_unique<QSystemTrayIcon>();
        m_activationIsClick = m_statusNotifierHost();
        m_id = data.uID;
        m_callbackMessage = 0;
        apply(data);
        QObject::connect(m_icon.get(), &QSystemTrayIcon::activated, m_window.widget(),
                         [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
        m_icon->show();
        return true;
    case NIM_MODIFY:
        if (!m_icon || data.uID != m_id)
            return false;
        apply(data);
        return true;
    case NIM_DELETE:
        if (!m_icon || data.uID != m_id)
            return false;
        // The delete may come from a handler that the icon's own mouse event
        // runs (Exit on its menu). Hiding the icon destroys the widget that is
        // handling that event, so the icon goes once the event is done; the
        // destructor takes it if the program ends first.
        m_retired = std::move(m_icon);
        QTimer::singleShot(0, m_retired.get(), [this] { m_retired.reset(); });
        return true;
    default:
        return false;
    }
}

void QtNotifyArea::activated(QSystemTrayIcon::ActivationReason reason) {
    if (!m_icon || m_callbackMessage == 0)
        return;
    std::intptr_t mouse = 0;
    if (reason == QSystemTrayIcon::Context)
        mouse = WM_RBUTTONUP;
    else if (reason == QSystemTrayIcon::DoubleClick ||
             (reason == QSystemTrayIcon::Trigger && m_activationIsClick))
        mouse = WM_LBUTTONDBLCLK;
    else
        return;
    m_window.send(m_callbackMessage, m_id, mouse);
}

} // namespace tavro::qt

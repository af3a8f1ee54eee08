#include "platform/qt/qt_notify_area.h"

#include "platform/qt/pictures.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <xcb/xcb.h>

namespace tavro::qt {

namespace {

bool statusNotifierWatcherOnSessionBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* services = bus.isConnected() ? bus.interface() : nullptr;
    return services && services->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

template <typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// Asked of the X server directly: Qt's own test decides once for the whole
// process whether to use the StatusNotifierItem watcher, so asking it before
// the watcher runs would keep a late watcher from ever being used.
bool xembedTrayOnDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The tray of the display's first screen, where desktops keep their panel.
    static constexpr char selection[] = "_NET_SYSTEM_TRAY_S0";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof selection - 1, selection),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

// Folds a modify into the record of an icon still waiting for its host.
void merge(NotifyIconData& into, const NotifyIconData& change) {
    if (change.uFlags & NIF_ICON)
        into.hIcon = change.hIcon;
    if (change.uFlags & NIF_TIP)
        into.szTip = change.szTip;
    if (change.uFlags & NIF_MESSAGE)
        into.uCallbackMessage = change.uCallbackMessage;
    into.uFlags |= change.uFlags;
}

} // namespace

QtNotifyArea::QtNotifyArea(QtMainWindow& window, std::function<bool()> trayHost,
                           std::function<bool()> statusNotifierHost)
    : m_window(window), m_trayHost(std::move(trayHost)), m_statusNotifierHost(std::move(statusNotifierHost)) {
    if (!m_trayHost)
        m_trayHost = [] { return statusNotifierWatcherOnSessionBus() || xembedTrayOnDisplay(); };
    if (!m_statusNotifierHost)
        m_statusNotifierHost = statusNotifierWatcherOnSessionBus;
    // The icon is the way back to a hidden window.
    m_window.setHiddenWindowReachable([this] { return m_icon && m_trayHost(); });
    m_hostPoll.setInterval(HostPollMilliseconds);
    QObject::connect(&m_hostPoll, &QTimer::timeout, m_window.widget(), [this] { dockWhenHostAppears(); });
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
        if (m_icon || m_waiting)
            return false;
        if (!m_trayHost()) {
            m_waiting = data;
            m_hostPoll.start();
            return false;
        }
        dock(data);
        return true;
    case NIM_MODIFY:
        if (m_waiting && data.uID == m_waiting->uID)
            merge(*m_waiting, data);
        if (!m_icon || data.uID != m_id)
            return false;
        apply(data);
        return true;
    case NIM_DELETE:
        if (m_waiting && data.uID == m_waiting->uID) {
            m_waiting.reset();
            m_hostPoll.stop();
        }
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

void QtNotifyArea::dock(const NotifyIconData& data) {
    m_icon = std::make_unique<QSystemTrayIcon>();
    m_activationIsClick = m_statusNotifierHost();
    m_id = data.uID;
    m_callbackMessage = 0;
    apply(data);
    QObject::connect(m_icon.get(), &QSystemTrayIcon::activated, m_window.widget(),
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    m_icon->show();
}

void QtNotifyArea::dockWhenHostAppears() {
    if (!m_waiting || !m_trayHost())
        return;
    m_hostPoll.stop();
    dock(*m_waiting);
    m_waiting.reset();
    // Without the icon, Hide, the close box and "Hide at Startup" minimized
    // the window; now the icon leads back, it hides as they asked.
    if (m_window.widget()->isMinimized())
        m_window.hide();
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

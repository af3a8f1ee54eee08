#pragma once

#include "platform/notify_area.h"
#include "platform/qt/main_window.h"

#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace tavro::qt {

// The notification area on QSystemTrayIcon. The icon's context request and
// double-click reach the window's procedure as the record's callback message
// with lParam WM_RBUTTONUP or WM_LBUTTONDBLCLK.
//
// At login the program may start before the panel. An icon added while the
// desktop has no notification area waits, with every later change to it, and
// is docked once one appears: still the one icon that the start added.
class QtNotifyArea final : public NotifyArea {
public:
    // How often a waiting icon looks for a notification area.
    static constexpr int HostPollMilliseconds = 1000;

    // trayHost answers whether the desktop has a notification area; by default
    // whether the display has an XEmbed tray or the session bus the
    // StatusNotifierItem watcher. statusNotifierHost answers whether that area is a
    // StatusNotifierItem host; by default whether the session bus has the
    // item watcher that Qt looks for.
    explicit QtNotifyArea(QtMainWindow& window, std::function<bool()> trayHost = {},
                          std::function<bool()> statusNotifierHost = {});
    ~QtNotifyArea() override;
    QtNotifyArea(const QtNotifyArea&) = delete;
    QtNotifyArea& operator=(const QtNotifyArea&) = delete;

    bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& data) override;

    // What the desktop reports of the mouse over the icon.
    void activated(QSystemTrayIcon::ActivationReason reason);
    // The icon, or null when none is shown.
    QSystemTrayIcon* trayIcon() const { return m_icon.get(); }

private:
    void apply(const NotifyIconData& data);
    void dock(const NotifyIconData& data);
    void dockWhenHostAppears();

    QtMainWindow& m_window;
    std::function<bool()> m_trayHost;
    std::function<bool()> m_statusNotifierHost;
    // A StatusNotifierItem host reports the user's activation of the icon as
    // a click and never as a double-click.
    bool m_activationIsClick = false;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<QSystemTrayIcon> m_retired;
    // The icon that waits for a notification area, as it would show now.
    std::optional<NotifyIconData> m_waiting;
    QTimer m_hostPoll;
    std::uint32_t m_callbackMessage = 0;
    std::uint32_t m_id = 0;
};

} // namespace tavro::qt

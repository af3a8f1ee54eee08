#pragma once

#include "platform/notify_area.h"
#include "platform/qt/main_window.h"

#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace tavro::qt {

// The notification area on QSystemTrayIcon. The icon's context request and
// double-click reach the window's procedure as the record's callback message
// with lParam WM_RBUTTONUP or WM_LBUTTONDBLCLK.
class QtNotifyArea final : public NotifyArea {
public:
    // trayHost answers whether the desktop has a notification area; by default
    // Qt's own test. statusNotifierHost answers whether that area is a
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

    QtMainWindow& m_window;
    std::function<bool()> m_trayHost;
    std::function<bool()> m_statusNotifierHost;
    // A StatusNotifierItem host reports the user's activation of the icon as
    // a click and never as a double-click.
    bool m_activationIsClick = false;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<QSystemTrayIcon> m_retired;
    std::uint32_t m_callbackMessage = 0;
    std::uint32_t m_id = 0;
};

} // namespace tavro::qt

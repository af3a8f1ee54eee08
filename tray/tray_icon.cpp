#include "tray/tray_icon.h"

#include "form/design.h"
#include "form/failure_rule.h"
#include "form/quellit.h"

#include <utility>

namespace tavro {

namespace {

NotifyIconData record(Quellit& form) {
    NotifyIconData data;
    data.hWnd = form.window().hWnd();
    data.uID = TrayIconId;
    return data;
}

} // namespace

NotifyIconData trayAddRecord(Quellit& form) {
    NotifyIconData data = record(form);
    data.uFlags = TrayFlags;
    data.uCallbackMessage = TrayCallbackMessage;
    data.hIcon = Icon::Enabled;
    data.szTip = "Enabled";
    return data;
}

NotifyIconData trayModifyRecord(Quellit& form) {
    NotifyIconData data = record(form);
    data.uFlags = TrayFlags;
    data.uCallbackMessage = TrayCallbackMessage;
    data.hIcon = form.window().icon();
    data.szTip = form.BlockingEnabled ? "Enabled" : "Disabled";
    return data;
}

NotifyIconData trayDeleteRecord(Quellit& form) {
    return record(form);
}

// The results are not looked at: a desktop without a notification area leaves
// the program without an icon, and the later calls then have nothing to change.
void AddTrayIcon(Quellit& form) {
    form.sys.notifyArea.Shell_NotifyIcon(NIM_ADD, trayAddRecord(form));
}

void RefreshTrayIcon(Quellit& form) {
    form.sys.notifyArea.Shell_NotifyIcon(NIM_MODIFY, trayModifyRecord(form));
}

void DeleteTrayIcon(Quellit& form) {
    form.sys.notifyArea.Shell_NotifyIcon(NIM_DELETE, trayDeleteRecord(form));
}

std::vector<std::string> trayMenuItems() {
    std::vector<std::string> items;
    for (const MenuDesign& item : menuDesigns())
        if (item.parent == TrayMenu && item.visible)
            items.emplace_back(item.name);
    return items;
}

std::intptr_t MainWindowProc(Quellit& form, WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                             std::intptr_t lParam) {
    // The hook is entered from the platform's message dispatch, not through the
    // form's events, so it applies the failure rule itself.
    if (uMsg == TrayCallbackMessage) {
        if (lParam == WM_RBUTTONUP)
            underFailureRule(form, [&] { form.window().popupMenu(trayMenuItems(), TrayMenuDefault); });
        else if (lParam == WM_LBUTTONDBLCLK)
            underFailureRule(form, [&] { form.window().show(); });
    }
    const WindowProc& previous = form.module1.PrevWndProc;
    return previous ? previous(hWnd, uMsg, wParam, lParam) : 0;
}

void InstallWindowHook(Quellit& form) {
    form.module1.PrevWndProc = form.window().setWindowProc(
        [&form](WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam, std::intptr_t lParam) {
            return MainWindowProc(form, hWnd, uMsg, wParam, lParam);
        });
}

void RemoveWindowHook(Quellit& form) {
    // When Exit was chosen from the tray menu this destroys the hook that is
    // running now; MainWindowProc touches nothing of it after the menu returns.
    form.window().setWindowProc(form.module1.PrevWndProc);
}

} // namespace tavro

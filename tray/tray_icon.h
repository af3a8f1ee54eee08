#pragma once

#include "platform/notify_area.h"
#include "platform/toolkit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavro {

class Quellit;

inline constexpr std::uint32_t TrayCallbackMessage = 1400;
inline constexpr std::uint32_t TrayIconId = 0;
inline constexpr std::uint32_t TrayFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
inline constexpr const char* TrayMenu = "mnuTrayIconPopup";
inline constexpr const char* TrayMenuDefault = "mnuShow";

// The notification records, filled afresh for each call.
NotifyIconData trayAddRecord(Quellit& form);
NotifyIconData trayModifyRecord(Quellit& form);
NotifyIconData trayDeleteRecord(Quellit& form);

// Adds the icon with the imgEnabled picture and the tip "Enabled". Without a
// notification area the program simply runs without an icon.
void AddTrayIcon(Quellit& form);
// Brings the icon's picture and tip into line with the window's icon and BlockingEnabled.
void RefreshTrayIcon(Quellit& form);
void DeleteTrayIcon(Quellit& form);

// The visible items of the tray menu, in menu order, as the design lists them.
std::vector<std::string> trayMenuItems();

// The window procedure hook: opens the tray menu on a right-click of the icon
// and shows the window on a double-click; every message, those included, then
// goes to the procedure it replaced, whose result it returns.
std::intptr_t MainWindowProc(Quellit& form, WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                             std::intptr_t lParam);

// Installs MainWindowProc, keeping the procedure it replaces in Module1's PrevWndProc.
void InstallWindowHook(Quellit& form);
// Gives the window back the procedure that was there before the hook.
void RemoveWindowHook(Quellit& form);

} // namespace tavro

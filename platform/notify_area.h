#pragma once

#include "platform/toolkit.h"

#include <cstdint>
#include <string>

namespace tavro {

inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;

inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;

inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 515;
inline constexpr std::uint32_t WM_RBUTTONUP = 517;

// The notification record, filled afresh before each call.
struct NotifyIconData {
    std::uint32_t cbSize = 88;
    WindowHandle hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    Icon hIcon = Icon::None;
    std::string szTip;

    bool operator==(const NotifyIconData&) const = default;
};

// The notification area of the desktop. Mouse actions on the icon reach the
// window's procedure as uCallbackMessage with lParam the mouse message
// (WM_RBUTTONUP for the context request, WM_LBUTTONDBLCLK for a double-click).
class NotifyArea {
public:
    virtual ~NotifyArea() = default;
    // Adds, modifies or deletes the icon; false when the desktop has no
    // notification area or the call did not take effect. Never raises.
    virtual bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& data) = 0;
};

} // namespace tavro

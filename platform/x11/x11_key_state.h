#pragma once

#include "platform/key_state.h"

#include <string>

namespace tavro::x11 {

// The keyboard as the X server sees it, whichever window has the focus. On a
// desktop without an X server (Wayland without XWayland, a text console) the
// keys read as up.
class X11KeyState final : public KeyState {
public:
    // displayName: the X display to ask ("" for $DISPLAY).
    explicit X11KeyState(std::string displayName = {});
    ~X11KeyState() override;
    X11KeyState(const X11KeyState&) = delete;
    X11KeyState& operator=(const X11KeyState&) = delete;

    // VK_CONTROL reads as down (bit 15 set) while either Ctrl key is held;
    // every other key reads as up.
    std::int16_t GetKeyState(int virtualKey) override;
    // Whether there is an X server to ask (one that starts later is found).
    bool serverReachable() { return connect(); }

private:
    bool connect();

    std::string m_displayName;
    // The Xlib display, kept open: asking costs one round trip to the server.
    void* m_display = nullptr;
    unsigned m_leftControl = 0;
    unsigned m_rightControl = 0;
};

} // namespace tavro::x11

#include "platform/x11/x11_key_state.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace tavro::x11 {

namespace {

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

bool isDown(const char (&keys)[32], unsigned keycode) {
    if (keycode == 0 || keycode >= 256)
        return false;
    const auto byte = static_cast<unsigned char>(keys[keycode / 8]);
    return ((byte >> (keycode % 8)) & 1U) != 0;
}

} // namespace

X11KeyState::X11KeyState(std::string displayName) : m_displayName(std::move(displayName)) {}

X11KeyState::~X11KeyState() {
    if (m_display != nullptr)
        XCloseDisplay(asDisplay(m_display));
}

bool X11KeyState::connect() {
    if (m_display != nullptr)
        return true;
    Display* display = XOpenDisplay(m_displayName.empty() ? nullptr : m_displayName.c_str());
    if (display == nullptr)
        return false;
    m_display = display;
    m_leftControl = XKeysymToKeycode(display, XK_Control_L);
    m_rightControl = XKeysymToKeycode(display, XK_Control_R);
    return true;
}

std::int16_t X11KeyState::GetKeyState(int virtualKey) {
    // Without an X server we cannot tell, and a key we cannot see is up. The
    // server is looked for again at the next call, so one that starts later
    // is found.
    if (virtualKey != VK_CONTROL || !connect())
        return 0;
    char keys[32] = {};
    XQueryKeymap(asDisplay(m_display), keys);
    const bool down = isDown(keys, m_leftControl) || isDown(keys, m_rightControl);
    return down ? static_cast<std::int16_t>(-0x8000) : std::int16_t{0};
}

} // namespace tavro::x11

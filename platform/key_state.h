#pragma once

#include <cstdint>

namespace tavro {

inline constexpr int VK_CONTROL = 17;

// The state of a key on the keyboard, whichever window has the focus.
class KeyState {
public:
    virtual ~KeyState() = default;
    // Bit 15 (0x8000) is set while the key is down. Where the platform cannot
    // tell, the key reads as up; raises an Error only when the call itself fails.
    virtual std::int16_t GetKeyState(int virtualKey) = 0;
};

} // namespace tavro

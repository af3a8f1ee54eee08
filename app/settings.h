#pragma once

#include <cstdint>
#include <string>

namespace tavro {

class Quellit;

inline constexpr const char* OptionsSection = "Options";

// Sets chkBeep, chkHideOnStart and chkMenubar from the settings store, in that
// order, each key with its default ("Beep" 1, "HideOnStart" 0, "Menubar" 0).
// A stored value that is not 0, 1 or 2 raises an Error that names the key, the
// value and where the store keeps it, so that the user can mend it.
void LoadOptions(Quellit& form);

// Writes the three check boxes to the store as decimal digits, in the same order.
void SaveOptions(Quellit& form);

// The stored "HideOnStart" as a whole number, read afresh from the store.
std::int16_t StoredHideOnStart(Quellit& form);

} // namespace tavro

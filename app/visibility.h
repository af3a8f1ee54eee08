#pragma once

#include <cstdint>

namespace tavro {

class Quellit;

// Hides the window on a paint while the start-up hide is pending and the
// stored "HideOnStart" is 1; any other value leaves the check pending.
void Form_Paint(Quellit& form);

void cmd_Hide_Click(Quellit& form);
void mnuShow_Click(Quellit& form);

// The user's own close (reason 0) only hides the window; every other reason
// lets the close go ahead.
void Form_QueryUnload(Quellit& form, std::int16_t& cancel, std::int16_t unloadMode);

// The exit command: saves the allowed domains, then closes the window for good.
void cmd_Quit_Click(Quellit& form);
void mnuExit_Click(Quellit& form);

// The unload sequence, for every close that goes ahead.
void Form_Unload(Quellit& form, std::int16_t& cancel);

} // namespace tavro

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
// lets the close go ahead, and any but the Exit commands' (1) makes the
// ending unattended.
void Form_QueryUnload(Quellit& form, std::int16_t& cancel, std::int16_t unloadMode);

// The exit command: saves the allowed domains, then closes the window for good.
void cmd_Quit_Click(Quellit& form);
void mnuExit_Click(Quellit& form);

// The unload sequence, for every close that goes ahead: the options and the
// list, each saved even when the other failed, then the help viewer's quit,
// the tray icon and the window hook. Any failure is reported once all of it
// has run, and the program then ends with status 1.
void Form_Unload(Quellit& form, std::int16_t& cancel);

// The toolkit ends the process under the window because its display went
// away: the window can neither unload nor show a box, so only the two saves
// of the unload run, their failures reported unattended. Nothing is saved
// while a failure is being reported, as the program-wide rule has it.
void SaveOnLostDisplay(Quellit& form);

} // namespace tavro

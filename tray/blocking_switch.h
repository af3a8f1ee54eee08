#pragma once

namespace tavro {

class Quellit;

// Switches blocking off or on: the captions of cmd_Enable and mnuEnable name the
// next action, the window icon and the tray icon show the state, and Timer1 (so
// the popup scan) runs only while blocking is on.
void ToggleBlocking(Quellit& form);

void cmd_Enable_Click(Quellit& form);
void mnuEnable_Click(Quellit& form);

// The check box itself is the option: the scan reads it at every tick.
void chkMenubar_Click(Quellit& form);

} // namespace tavro

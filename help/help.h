#pragma once

#include <string>
#include <string_view>

namespace tavro {

class Quellit;

inline constexpr std::string_view NoHelpMessage =
    "Unable to display Help Contents. There is no Help associated with this project.";

// The Help button and the tray menu's Help item: both open the help contents
// through ShowHelpContents, so they can never drift apart.
void Command1_Click(Quellit& form);
void mnuHelp_Click(Quellit& form);
void ShowHelpContents(Quellit& form);

// The help topic that F1 shows for a control or menu item of the design: its
// own number, else its container's, else the window's.
int HelpContextOf(std::string_view name);

// F1 while the window is active: the topic of the focused control ("" when
// nothing has the focus).
void ShowHelpTopic(Quellit& form, const std::string& focusedControl);

} // namespace tavro

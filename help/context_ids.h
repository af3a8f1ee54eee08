#pragma once

#include "platform/toolkit.h"

namespace tavro {

class Quellit;

inline constexpr const char* HelpFileName = "QuellitProject.HLP";

// Sets the application's help file (in the program's folder) and keeps the
// owner handle for the quit request. Opens nothing.
void HelpSetup(Quellit& form, WindowHandle owner);

// Tells the help viewer that this owner no longer needs it.
void HelpQuit(Quellit& form);

} // namespace tavro

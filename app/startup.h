#pragma once

#include <string>

namespace tavro {

class Quellit;

// "Tavro Popup Blocker Version 2.7": the design caption and the version.
std::string versionCaption();

// The start-up sequence of the main window, run once before it is shown. A
// second instance ends here, silently and before it touches anything.
void Form_Load(Quellit& form);

} // namespace tavro

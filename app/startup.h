#pragma once

namespace tavro {

class Quellit;

// The start-up sequence of the main window, run once before it is shown. A
// second instance ends here, silently and before it touches anything.
void Form_Load(Quellit& form);

} // namespace tavro

#pragma once

#include <cstdint>
#include <string_view>

namespace tavro {

// Converts text to a 16-bit signed whole number the way stored options and the
// update server's version file are read: blanks and line breaks around the
// number are ignored, a fraction is rounded to the nearest whole number with an
// exact half going to the even neighbour. Raises TypeMismatch for text that is
// not a number (the empty text included) and Overflow outside -32768..32767.
std::int16_t toInteger(std::string_view text);

} // namespace tavro

#pragma once

#include "platform/controls.h"

#include <string_view>

namespace tavro {

// The program's only membership test: exact, code unit by code unit. The search
// also reads the position one past the last entry, which reads as the empty
// text, so the empty text is always found. Raises Overflow when a full list
// (32,767 entries) does not hold the text; a failure reading the list reaches
// the caller.
bool ListContains(const ListBox& list, std::string_view text);

} // namespace tavro

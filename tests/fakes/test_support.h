#pragma once

#include "platform/controls.h"
#include "platform/error.h"

#include <string>
#include <vector>

namespace tavro::fakes {

// A list's entries in order, for comparing a whole list at once.
inline std::vector<std::string> entries(const ListBox& list) {
    std::vector<std::string> result;
    for (std::int16_t i = 0; i < list.count(); ++i)
        result.push_back(list.text(i));
    return result;
}

// The number of the Error an action raises, or 0 when it raises none.
inline int errorNumber(auto&& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

} // namespace tavro::fakes

#include "blocking/list_lookup.h"

#include "platform/error.h"

#include <cstdint>

namespace tavro {

bool ListContains(const ListBox& list, std::string_view text) {
    // The count is read once: entries added or removed during the search are not seen.
    const std::int16_t n = list.count();
    for (std::int16_t i = 0;; ++i) {
        if (list.text(i) == text)
            return true;
        // The position counter is 16 bits wide and steps past the last position
        // before the bound is tested, so a miss in a full list overflows it.
        if (i == INT16_MAX)
            throw Error(errc::Overflow, "Overflow");
        if (i == n)
            return false;
    }
}

} // namespace tavro

#include "form/conversion.h"

#include "platform/error.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace tavro {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

[[noreturn]] void typeMismatch() {
    throw Error(errc::TypeMismatch, "Type mismatch");
}

// A sign, digits with an optional fraction, and an optional exponent: nothing
// else, so that "1e", "0x1", "inf" and "nan" are not numbers here.
bool isDecimalNumber(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return false;
    }
    return i == s.size();
}

} // namespace

std::int16_t toInteger(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (!isDecimalNumber(text))
        typeMismatch();

    // from_chars rejects a leading '+'.
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || (ec != std::errc{} && ec != std::errc::result_out_of_range))
        typeMismatch();
    if (ec == std::errc::result_out_of_range) {
        // Too small to tell from zero rounds to zero; too large overflows.
        const bool underflow =
            text.find("e-") != std::string_view::npos || text.find("E-") != std::string_view::npos;
        if (!underflow)
            throw Error(errc::Overflow, "Overflow");
        value = 0;
    }

    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max())
        throw Error(errc::Overflow, "Overflow");
    return static_cast<std::int16_t>(rounded);
}

} // namespace tavro

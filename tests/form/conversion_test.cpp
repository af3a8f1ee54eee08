#include "form/conversion.h"
#include "platform/error.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

struct Converted {
    const char* text;
    int expected; // the number, or the error number when failing
    bool fails;
};

void PrintTo(const Converted& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ToInteger : public testing::TestWithParam<Converted> {};

TEST_P(ToInteger, FollowsTheRoundingAndRangeRules) {
    const Converted& c = GetParam();
    if (c.fails) {
        try {
            (void)toInteger(c.text);
            FAIL() << "expected an error for \"" << c.text << '"';
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.expected) << c.text;
        }
    } else {
        EXPECT_EQ(toInteger(c.text), c.expected) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToInteger,
    testing::Values(Converted{"0", 0, false}, Converted{"2", 2, false}, Converted{"27", 27, false},
                    Converted{"27\r\n", 27, false}, Converted{" 27 ", 27, false},
                    Converted{"\t27\n", 27, false}, Converted{"27.4", 27, false},
                    Converted{"27.5", 28, false}, Converted{"26.5", 26, false}, Converted{"1.5", 2, false},
                    Converted{"2.5", 2, false}, Converted{"-0.5", 0, false}, Converted{"+3", 3, false},
                    Converted{"2.7e1", 27, false}, Converted{"32767", 32767, false},
                    Converted{"-32768", -32768, false}, Converted{"32767.4", 32767, false},
                    Converted{"", errc::TypeMismatch, true}, Converted{"   ", errc::TypeMismatch, true},
                    Converted{"abc", errc::TypeMismatch, true}, Converted{"2 7", errc::TypeMismatch, true},
                    Converted{"<html>404</html>", errc::TypeMismatch, true},
                    Converted{"0x1A", errc::TypeMismatch, true}, Converted{"inf", errc::TypeMismatch, true},
                    Converted{"nan", errc::TypeMismatch, true}, Converted{"1e", errc::TypeMismatch, true},
                    Converted{"40000", errc::Overflow, true}, Converted{"32767.5", errc::Overflow, true},
                    Converted{"-32769", errc::Overflow, true}, Converted{"1e400", errc::Overflow, true},
                    Converted{"1e-400", 0, false}));

} // namespace
} // namespace tavro

#include "blocking/list_lookup.h"
#include "platform/error.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(ListContains, EmptyListFindsOnlyTheEmptyText) {
    ListBox list;
    EXPECT_TRUE(ListContains(list, ""));
    EXPECT_FALSE(ListContains(list, "ads.site.example"));
}

TEST(ListContains, ComparesExactly) {
    ListBox list;
    list.append("ads.site.example");
    EXPECT_TRUE(ListContains(list, "ads.site.example"));
    for (const char* other : {"ADS.SITE.EXAMPLE", "site.example", "ads.site.example ",
                              "ads.site.example:8080", " ads.site.example", "ads.site.exampl"})
        EXPECT_FALSE(ListContains(list, other)) << other;
    EXPECT_TRUE(ListContains(list, ""));
}

TEST(ListContains, FindsTheLastEntry) {
    ListBox list;
    for (int i = 0; i < 10; ++i)
        list.append("d" + std::to_string(i) + ".example");
    EXPECT_TRUE(ListContains(list, "d9.example"));
    EXPECT_TRUE(ListContains(list, "d0.example"));
}

TEST(ListContains, AFullListOverflowsOnAMissButFindsItsEntries) {
    ListBox list;
    for (int i = 0; i < ListBox::MaxEntries; ++i)
        list.append("d" + std::to_string(i));
    EXPECT_TRUE(ListContains(list, "d32766"));
    EXPECT_TRUE(ListContains(list, ""));
    try {
        (void)ListContains(list, "missing.example");
        FAIL() << "a miss in a full list overflows the 16-bit position counter";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::Overflow);
    }
}

TEST(ListContains, ANearlyFullListAnswersAMissWithoutError) {
    ListBox list;
    for (int i = 0; i < ListBox::MaxEntries - 1; ++i)
        list.append("d" + std::to_string(i));
    EXPECT_FALSE(ListContains(list, "missing.example"));
}

} // namespace
} // namespace tavro

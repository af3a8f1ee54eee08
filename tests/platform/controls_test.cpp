#include "platform/controls.h"
#include "platform/error.h"
#include "tests/fakes/test_support.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using fakes::errorNumber;

struct RecordingObserver final : ListBox::Observer {
    void appended(const std::string& text) override { events.push_back("+" + text); }
    void removed(std::int16_t position) override { events.push_back("-" + std::to_string(position)); }
    void selectionChanged(std::int16_t position) override {
        events.push_back("s" + std::to_string(position));
    }
    std::vector<std::string> events;
};

TEST(ListBox, PositionEqualToCountReadsEmptyAndBeyondIsAnError) {
    ListBox list;
    EXPECT_EQ(list.text(0), "");
    list.append("a.example");
    EXPECT_EQ(list.text(0), "a.example");
    EXPECT_EQ(list.text(1), "");
    EXPECT_EQ(errorNumber([&] { (void)list.text(2); }), errc::InvalidPropertyArrayIndex);
    EXPECT_EQ(errorNumber([&] { (void)list.text(-1); }), errc::InvalidPropertyArrayIndex);
}

TEST(ListBox, AppendingPastTheSixteenBitCountOverflows) {
    ListBox list;
    for (int i = 0; i < ListBox::MaxEntries; ++i)
        list.append("d" + std::to_string(i));
    EXPECT_EQ(list.count(), 32767);
    EXPECT_EQ(errorNumber([&] { list.append("one.more"); }), errc::Overflow);
    EXPECT_EQ(list.count(), 32767);
}

TEST(ListBox, RemovalKeepsTheSelectionOnItsEntryOrClearsIt) {
    ListBox list;
    RecordingObserver observer;
    list.setObserver(&observer);
    for (const char* name : {"a", "b", "c", "d"})
        list.append(name);
    list.setSelected(2);
    list.removeAt(0); // "c" moves up and stays selected
    EXPECT_EQ(list.selected(), 1);
    EXPECT_EQ(list.text(list.selected()), "c");
    list.removeAt(2); // after the selection: no change
    EXPECT_EQ(list.selected(), 1);
    list.removeAt(1); // the selected entry itself
    EXPECT_EQ(list.selected(), ListBox::NoSelection);
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"+a", "+b", "+c", "+d", "s2", "-0", "s1", "-2", "-1", "s-1"}));
    EXPECT_EQ(errorNumber([&] { list.removeAt(1); }), errc::InvalidPropertyArrayIndex);
}

TEST(CheckBox, AcceptsOnlyTheThreeStates) {
    CheckBox box;
    std::vector<std::int16_t> seen;
    box.setObserver([&](std::int16_t v) { seen.push_back(v); });
    box.setValue(2);
    box.setValue(2);
    box.setValue(1);
    EXPECT_EQ(errorNumber([&] { box.setValue(3); }), errc::InvalidPropertyValue);
    EXPECT_EQ(errorNumber([&] { box.setValue(-1); }), errc::InvalidPropertyValue);
    EXPECT_EQ(box.value(), 1);
    EXPECT_EQ(seen, (std::vector<std::int16_t>{2, 1}));
}

} // namespace
} // namespace tavro

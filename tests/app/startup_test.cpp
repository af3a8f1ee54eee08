#include "app/settings.h"
#include "tests/app/journal_platform.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using fakes::Terminated;

const std::string HelpNoted = "instance test, help file /opt/tavro/QuellitProject.HLP";

TEST(StartUp, RunsItsStepsInOrder) {
    JournalForm f;
    f.fake.files.files[WhiteListPath] = "a.example\r\n";
    f.events.Form_Load();

    EXPECT_EQ(f.journal,
              (Journal{HelpNoted, "caption Tavro Popup Blocker Version 2.7", "tray 0", "window procedure",
                       "read Beep", "read HideOnStart", "read Menubar", "read file " + WhiteListPath}));
    EXPECT_EQ(f.form.contextIds.helpOwner, f.fake.toolkit.window.handle);
    EXPECT_EQ(f.form.lstWhiteList.count(), 1);
    EXPECT_TRUE(f.form.BlockingEnabled);
    EXPECT_TRUE(f.form.StartupHidePending);
    EXPECT_TRUE(f.fake.toolkit.messages.empty());
}

TEST(StartUp, SecondInstanceEndsSilentlyTouchingNothing) {
    JournalForm f;
    f.fake.toolkit.otherInstance = true;
    try {
        f.events.Form_Load();
        FAIL() << "the second instance went on";
    } catch (const Terminated& t) {
        EXPECT_EQ(t.status, 0);
    }
    EXPECT_EQ(f.journal, (Journal{HelpNoted, "terminate 0"}));
    EXPECT_EQ(f.fake.toolkit.window.caption(), "Tavro Popup Blocker");
    EXPECT_TRUE(f.fake.files.files.empty());
    // No hook: a right-click on where the icon would be reaches the window itself.
    f.fake.toolkit.window.send(1400, 0, 517);
    EXPECT_TRUE(f.fake.toolkit.window.popups.empty());
    EXPECT_EQ(f.fake.toolkit.window.defaultProcMessages, std::vector<std::uint32_t>{1400});
}

struct OptionCase {
    const char* beep;
    const char* hideOnStart;
    const char* menubar;
    std::int16_t expected[3];
};

class OptionsLoad : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionsLoad, ConvertsStoredText) {
    const OptionCase& c = GetParam();
    JournalForm f;
    const char* stored[] = {c.beep, c.hideOnStart, c.menubar};
    const char* keys[] = {"Beep", "HideOnStart", "Menubar"};
    for (int i = 0; i < 3; ++i)
        if (stored[i])
            f.store(keys[i], stored[i]);
    f.events.Form_Load();
    EXPECT_EQ(f.form.chkBeep.value(), c.expected[0]);
    EXPECT_EQ(f.form.chkHideOnStart.value(), c.expected[1]);
    EXPECT_EQ(f.form.chkMenubar.value(), c.expected[2]);
}

INSTANTIATE_TEST_SUITE_P(Values, OptionsLoad,
                         ::testing::Values(OptionCase{nullptr, nullptr, nullptr, {1, 0, 0}}, // first run
                                           OptionCase{"0", "2", "1", {0, 2, 1}},             // 2 is grayed
                                           OptionCase{"1.5", "2.5", "0.5", {2, 2, 0}},       // halves to even
                                           OptionCase{" 1 ", "\t0\r\n", "+2", {1, 0, 2}}),
                         [](const auto& param) { return "case" + std::to_string(param.index); });

struct BadOption {
    const char* key;
    const char* value;
    int number;
};

class OptionsReject : public ::testing::TestWithParam<BadOption> {};

TEST_P(OptionsReject, EndsStartUpNamingKeyValueAndFile) {
    const BadOption& c = GetParam();
    JournalForm f;
    f.store(c.key, c.value);
    EXPECT_THROW(f.events.Form_Load(), Terminated);

    ASSERT_EQ(f.fake.toolkit.messages.size(), 1u);
    const MessageBoxRequest& box = f.fake.toolkit.messages[0];
    EXPECT_EQ(box.text.rfind("Run-time error '" + std::to_string(c.number) + "':\n\n", 0), 0u) << box.text;
    EXPECT_NE(box.text.find(std::string("\"") + c.key + "\""), std::string::npos) << box.text;
    EXPECT_NE(box.text.find(std::string("\"") + c.value + "\""), std::string::npos) << box.text;
    EXPECT_NE(box.text.find(SettingsPath), std::string::npos) << box.text;
    EXPECT_EQ(box.icon, MessageIcon::Critical);
    EXPECT_EQ(box.title, "Tavro Popup Blocker");
    // Nothing after the failing step: no file read, no state, nothing saved.
    EXPECT_EQ(f.journal.back(), "terminate 1");
    EXPECT_EQ(std::ranges::count(f.journal, "read file " + WhiteListPath), 0);
    EXPECT_FALSE(f.form.BlockingEnabled);
    EXPECT_TRUE(f.fake.settings.writes.empty());
}

INSTANTIATE_TEST_SUITE_P(Values, OptionsReject,
                         ::testing::Values(BadOption{"Beep", "abc", 13}, BadOption{"HideOnStart", "", 13},
                                           BadOption{"Menubar", "1,5", 13}, BadOption{"Beep", "40000", 6},
                                           BadOption{"HideOnStart", "3", 380},
                                           BadOption{"Menubar", "-1", 380}, BadOption{"Menubar", "2.6", 380}),
                         [](const auto& param) { return "case" + std::to_string(param.index); });

TEST(OptionsSave, WritesDigitsInOrder) {
    JournalForm f;
    f.form.chkBeep.setValue(0);
    f.form.chkHideOnStart.setValue(2);
    f.form.chkMenubar.setValue(1);
    SaveOptions(f.form);
    EXPECT_EQ(f.journal, (Journal{"write Beep=0", "write HideOnStart=2", "write Menubar=1"}));
}

} // namespace
} // namespace tavro::testing

#include "form/failure_rule.h"
#include "tests/app/journal_platform.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>

namespace tavro::testing {
namespace {

using fakes::Terminated;

const Journal UnloadSequence{
    "write Beep=1", "write HideOnStart=0", "write Menubar=0", "write file " + WhiteListPath, "help 2",
    "tray 2",       "window procedure"};

TEST(StartupHide, OnlyStoredOneHidesAndOnlyOnce) {
    JournalForm f;
    f.store("HideOnStart", "1");
    f.load();
    f.window.show();
    EXPECT_FALSE(f.fake.toolkit.window.visible());
    EXPECT_FALSE(f.form.StartupHidePending);
    f.events.Click("mnuShow");
    EXPECT_TRUE(f.fake.toolkit.window.visible());
    EXPECT_EQ(std::ranges::count(f.journal, "read HideOnStart"), 1);
}

TEST(StartupHide, OtherValuesKeepTheWindowAndRereadEachPaint) {
    for (const char* stored : {"0", "2"}) {
        JournalForm f;
        f.store("HideOnStart", stored);
        f.load();
        f.form.chkHideOnStart.setValue(1); // meant for the next start
        f.window.show();
        f.window.show();
        EXPECT_TRUE(f.fake.toolkit.window.visible()) << stored;
        EXPECT_TRUE(f.form.StartupHidePending);
        EXPECT_EQ(std::ranges::count(f.journal, "read HideOnStart"), 2);
    }
}

TEST(Visibility, HideButtonAndShowItem) {
    JournalForm f;
    f.load();
    f.events.Click("mnuShow");
    f.events.Click("cmd_Hide");
    EXPECT_EQ(f.journal, (Journal{"show", "read HideOnStart", "hide"}));
    EXPECT_FALSE(f.fake.toolkit.window.visible());
}

TEST(Close, UserCloseOnlyHides) {
    JournalForm f;
    f.load();
    f.window.show();
    f.journal.clear();
    f.window.close(CloseReason::User);
    EXPECT_EQ(f.journal, (Journal{"close 0", "hide"}));
    EXPECT_FALSE(f.fake.toolkit.window.destroyed);
}

TEST(Close, OtherReasonsRunTheUnloadInOrder) {
    for (CloseReason reason : {CloseReason::Program, CloseReason::Session, CloseReason::TaskManager}) {
        JournalForm f;
        f.load();
        f.window.close(reason);
        Journal expected{"close " + std::to_string(static_cast<int>(reason))};
        expected.insert(expected.end(), UnloadSequence.begin(), UnloadSequence.end());
        EXPECT_EQ(f.journal, expected);
        EXPECT_TRUE(f.fake.toolkit.window.destroyed);
    }
}

TEST(Exit, BothCommandsSaveTheListThenClose) {
    for (const char* control : {"cmd_Quit", "mnuExit"}) {
        JournalForm f;
        f.load();
        f.form.lstWhiteList.append("a.example");
        f.form.chkHideOnStart.setValue(1);
        f.events.Click(control);
        EXPECT_EQ(f.journal.front(), "write file " + WhiteListPath) << control;
        EXPECT_EQ(f.journal[1], "close 1");
        EXPECT_EQ(f.fake.files.files[WhiteListPath], "a.example\r\n");
        EXPECT_EQ(f.stored("HideOnStart"), "1");
        EXPECT_TRUE(f.fake.toolkit.window.destroyed);
    }
}

TEST(Exit, FromTheTrayMenuWhileHidden) {
    JournalForm f;
    f.load();
    f.fake.toolkit.window.nextMenuChoice = "mnuExit";
    f.fake.toolkit.window.send(1400, 0, 517);
    EXPECT_TRUE(f.fake.toolkit.window.destroyed);
    EXPECT_EQ(f.fake.notifyArea.calls.back().message, NIM_DELETE);
    // The hook is gone: the window's own procedure saw the message, and the next one too.
    f.fake.toolkit.window.send(1400, 0, 517);
    EXPECT_EQ(f.fake.toolkit.window.defaultProcMessages, (std::vector<std::uint32_t>{1400, 1400}));
    EXPECT_EQ(f.fake.toolkit.window.popups.size(), 1u);
}

// However the program ends, a save that fails skips neither the other save
// nor the rest of the unload, and every failure is reported once all of it has
// run: in a box when the Exit command asked for the end, where the user is;
// on standard error otherwise, where a box would wait for nobody.
struct FailingEnd {
    const char* name;
    void (*end)(JournalForm&);
    bool optionsFail;
    bool listFails;
    Journal journal;
    std::vector<std::string> reports; // without a box
    std::vector<std::string> boxes;
};

const std::string Denied = "Run-time error '70': Permission denied";
const std::string DeniedBox = "Run-time error '70':\n\nPermission denied";
const Journal SavesThenTheRest{
    "write Beep=1", "write HideOnStart=1", "write Menubar=0", "write file " + WhiteListPath, "help 2",
    "tray 2",       "window procedure"};

Journal concat(std::initializer_list<Journal> parts) {
    Journal all;
    for (const Journal& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const FailingEnd FailingEnds[] = {
    {"ExitWithTheListUnwritable",
     [](JournalForm& f) { f.events.Click("cmd_Quit"); },
     false,
     true,
     concat({{"write file " + WhiteListPath, "close 1"}, SavesThenTheRest, {"message box", "terminate 1"}}),
     {},
     {DeniedBox}},
    {"SessionEndWithTheOptionsUnwritable",
     [](JournalForm& f) { f.window.close(CloseReason::Session); },
     true,
     false,
     concat({{"close 2", "write Beep=1", "write file " + WhiteListPath},
             {SavesThenTheRest.begin() + 4, SavesThenTheRest.end()},
             {"report", "terminate 1"}}),
     {Denied},
     {}},
    {"SignalWithBothUnwritable",
     [](JournalForm& f) { f.window.close(CloseReason::TaskManager); },
     true,
     true,
     concat({{"close 3", "write Beep=1", "write file " + WhiteListPath},
             {SavesThenTheRest.begin() + 4, SavesThenTheRest.end()},
             {"report", "report", "terminate 1"}}),
     {Denied, Denied},
     {}},
    {"LostDisplayOnlySaves",
     [](JournalForm& f) { f.events.DisplayLost(); },
     true,
     false,
     {"write Beep=1", "write file " + WhiteListPath, "report"},
     {Denied},
     {}},
};

class FailingEndTest : public ::testing::TestWithParam<FailingEnd> {};

TEST_P(FailingEndTest, EverySaveRunsAndEveryFailureIsReported) {
    const FailingEnd& row = GetParam();
    JournalForm f;
    f.load();
    f.form.lstWhiteList.append("a.example");
    f.form.chkHideOnStart.setValue(1);
    f.fake.settings.failWrite = row.optionsFail;
    f.fake.files.unwritable = row.listFails;
    try {
        row.end(f);
    } catch (const Terminated& t) {
        EXPECT_EQ(t.status, 1);
    }
    EXPECT_EQ(f.journal, row.journal);
    EXPECT_EQ(f.fake.toolkit.unattendedReports, row.reports);
    std::vector<std::string> boxes;
    for (const MessageBoxRequest& box : f.fake.toolkit.messages)
        boxes.push_back(box.text);
    EXPECT_EQ(boxes, row.boxes);
    if (!row.optionsFail) {
        EXPECT_EQ(f.stored("HideOnStart"), "1");
    }
    if (!row.listFails) {
        EXPECT_EQ(f.fake.files.files[WhiteListPath], "a.example\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, FailingEndTest, ::testing::ValuesIn(FailingEnds),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(FailureRule, OtherExceptionsAndAFailingBoxStillEnd) {
    JournalForm f;
    EXPECT_THROW(underFailureRule(f.form, [] { throw std::runtime_error("boom"); }), Terminated);
    EXPECT_EQ(f.fake.toolkit.messages.back().text, "Run-time error '51':\n\nInternal error (boom)");

    JournalForm g;
    g.fake.toolkit.whileWaiting = [] { throw Error(errc::AutomationError, "Automation error"); };
    EXPECT_THROW(underFailureRule(g.form, [] { throw std::bad_alloc(); }), Terminated);
    EXPECT_EQ(g.fake.toolkit.messages.back().text, "Run-time error '7':\n\nOut of memory");
}

TEST(FailureRule, NothingRunsWhileTheFailureIsShown) {
    JournalForm f;
    f.load();
    f.fake.files.unwritable = true;
    f.fake.toolkit.whileWaiting = [&] {
        f.events.Click("cmd_Enable");
        f.events.Timer1_Timer();
        std::int16_t cancel = 0;
        f.events.Form_Unload(cancel);
    };
    EXPECT_THROW(f.events.Click("mnuExit"), Terminated);
    EXPECT_TRUE(f.form.BlockingEnabled);
    EXPECT_EQ(
        f.journal,
        concat({{"write file " + WhiteListPath, "close 1"}, UnloadSequence, {"message box", "terminate 1"}}));
}

TEST(Dispatch, ControlsWithoutHandlersDoNothing) {
    JournalForm f;
    f.load();
    for (const char* control :
         {"Frame1", "chkBeep", "chkHideOnStart", "chkMenubar", "lnkSearch", "mnuHide", ""})
        f.events.Click(control);
    f.events.DblClick("cmd_Hide");
    EXPECT_TRUE(f.journal.empty());
    EXPECT_TRUE(f.form.BlockingEnabled);
}

} // namespace
} // namespace tavro::testing

#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tray/blocking_switch.h"
#include "tray/tray_icon.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using fakes::Terminated;

// Delivers a chosen menu item the way the window does, and a paint that can fail.
struct MenuEvents final : FormEvents {
    explicit MenuEvents(Quellit& f) : form(f) {}
    void Form_Load() override {}
    void Form_Paint() override {
        if (failPaint)
            throw Error(errc::AutomationError, "Automation error");
    }
    void Form_QueryUnload(std::int16_t&, std::int16_t) override {}
    void Form_Unload(std::int16_t&) override {}
    void Timer1_Timer() override {}
    void Click(const std::string& control) override {
        log.push_back("click " + control);
        if (control == "mnuExit")
            RemoveWindowHook(form);
    }
    void DblClick(const std::string&) override {}
    void HelpKey(const std::string&) override {}

    Quellit& form;
    std::vector<std::string> log;
    bool failPaint = false;
};

struct TrayForm : ::testing::Test {
    TrayForm() {
        window().events = &events;
        // The procedure the hook replaces: it answers with a value of its own.
        window().setWindowProc(
            [this](WindowHandle, std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
                events.log.push_back("previous " + std::to_string(message) + "/" + std::to_string(lParam));
                return std::intptr_t{4242};
            });
        AddTrayIcon(form);
        InstallWindowHook(form);
        form.BlockingEnabled = true;
    }
    fakes::FakeMainWindow& window() { return fake.toolkit.window; }
    NotifyIconData record(Icon icon, const char* tip) const {
        return {88, fake.toolkit.window.handle, 0, 7, 1400, icon, tip};
    }

    fakes::FakePlatform fake;
    Quellit form{fake.platform};
    MenuEvents events{form};
};

TEST_F(TrayForm, RecordsForAddModifyDelete) {
    ToggleBlocking(form);
    DeleteTrayIcon(form);
    const auto& calls = fake.notifyArea.calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].message, NIM_ADD);
    EXPECT_EQ(calls[0].data, record(Icon::Enabled, "Enabled"));
    EXPECT_EQ(calls[1].message, NIM_MODIFY);
    EXPECT_EQ(calls[1].data, record(Icon::Disabled, "Disabled"));
    EXPECT_EQ(calls[2].message, NIM_DELETE);
    EXPECT_EQ(calls[2].data, (NotifyIconData{88, window().handle, 0, 0, 0, Icon::None, ""}));
}

TEST_F(TrayForm, EveryMessageGoesOnAndOnlyTwoAreActedOn) {
    struct Case {
        std::uint32_t message;
        std::intptr_t lParam;
        bool menu;
        bool shown;
    };
    const Case cases[] = {{1400, 517, true, false},  {1400, 515, false, true},  {1400, 513, false, false},
                          {1400, 514, false, false}, {1400, 516, false, false}, {1400, 512, false, false},
                          {15, 517, false, false},   {1401, 515, false, false}};
    for (const Case& c : cases) {
        window().hide();
        window().popups.clear();
        events.log.clear();
        EXPECT_EQ(window().send(c.message, 0, c.lParam), 4242);
        EXPECT_EQ(events.log.back(),
                  "previous " + std::to_string(c.message) + "/" + std::to_string(c.lParam));
        EXPECT_EQ(window().popups.size(), c.menu ? 1u : 0u) << c.message << "/" << c.lParam;
        EXPECT_EQ(window().visible(), c.shown) << c.message << "/" << c.lParam;
    }
}

TEST_F(TrayForm, RightClickOpensTheVisibleItemsThenRunsTheChoice) {
    window().nextMenuChoice = "mnuEnable";
    window().send(1400, 0, 517);
    ASSERT_EQ(window().popups.size(), 1u);
    EXPECT_EQ(window().popups[0].items, (std::vector<std::string>{"mnuShow", "mnuEnable", "mnuAbout",
                                                                  "mnuLine", "mnuHelp", "mnuExit"}));
    EXPECT_EQ(window().popups[0].defaultItem, "mnuShow");
    EXPECT_EQ(events.log, (std::vector<std::string>{"click mnuEnable", "previous 1400/517"}));
    EXPECT_FALSE(window().visible());
}

TEST_F(TrayForm, ExitChosenFromTheMenuRemovesTheRunningHook) {
    window().nextMenuChoice = "mnuExit";
    EXPECT_EQ(window().send(1400, 0, 517), 4242);
    window().send(1400, 0, 517);
    EXPECT_EQ(window().popups.size(), 1u);
}

TEST_F(TrayForm, FailureInTheHookEndsByTheRule) {
    events.failPaint = true;
    EXPECT_THROW(window().send(1400, 0, 515), Terminated);
    EXPECT_EQ(fake.toolkit.messages.at(0).text, "Run-time error '440':\n\nAutomation error");
}

TEST_F(TrayForm, SwitchFollowsStateTwiceFromBothHandlers) {
    for (auto handler : {cmd_Enable_Click, mnuEnable_Click}) {
        for (bool on : {false, true}) {
            handler(form);
            EXPECT_EQ(form.BlockingEnabled, on);
            EXPECT_EQ(form.cmd_Enable.text(), on ? "Disable" : "Enable");
            EXPECT_EQ(form.mnuEnable.text(), on ? "Disable" : "Enable");
            EXPECT_EQ(window().icon(), on ? Icon::Enabled : Icon::Disabled);
            EXPECT_EQ(fake.toolkit.timer.enabled(), on);
            EXPECT_EQ(fake.notifyArea.calls.back().data,
                      record(on ? Icon::Enabled : Icon::Disabled, on ? "Enabled" : "Disabled"));
        }
    }
}

TEST_F(TrayForm, AggressiveBoxClickChangesNothing) {
    form.chkMenubar.setValue(1);
    chkMenubar_Click(form);
    EXPECT_EQ(form.chkMenubar.value(), 1);
    EXPECT_TRUE(form.BlockingEnabled);
    EXPECT_EQ(fake.notifyArea.calls.size(), 1u);
}

} // namespace
} // namespace tavro

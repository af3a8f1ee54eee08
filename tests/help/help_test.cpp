#include "form/quellit.h"
#include "help/context_ids.h"
#include "help/help.h"
#include "tests/fakes/fake_platform.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using Call = fakes::FakeHelpViewer::Call;
using Calls = std::vector<Call>;

class Help : public testing::Test {
protected:
    Help() { fake.toolkit.window.setCaption("Tavro Popup Blocker Version 2.7"); }

    WindowHandle handle() const { return fake.toolkit.window.handle; }
    const Calls& calls() const { return fake.helpViewer.calls; }
    const std::vector<MessageBoxRequest>& messages() const { return fake.toolkit.messages; }

    fakes::FakePlatform fake;
    Quellit form{fake.platform};
};

struct PathCase {
    const char* folder;
    const char* helpFile;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << '"' << c.folder << '"';
}

class HelpSetupPath : public Help, public testing::WithParamInterface<PathCase> {};

TEST_P(HelpSetupPath, JoinsTheFolderAndTheFileName) {
    fake.toolkit.folder = GetParam().folder;
    HelpSetup(form, handle());
    EXPECT_EQ(form.contextIds.HelpFile, GetParam().helpFile);
}

INSTANTIATE_TEST_SUITE_P(Folders, HelpSetupPath,
                         testing::Values(PathCase{"/opt/tavro", "/opt/tavro/QuellitProject.HLP"},
                                         PathCase{"/opt/tavro/", "/opt/tavro/QuellitProject.HLP"},
                                         PathCase{"/", "/QuellitProject.HLP"},
                                         // Blanks are part of a folder name here: a folder ending
                                         // in blanks still gets its separator.
                                         PathCase{"/opt/tavro  ", "/opt/tavro  /QuellitProject.HLP"},
                                         PathCase{"/opt/tavro/  ", "/opt/tavro/  /QuellitProject.HLP"},
                                         PathCase{"  /srv/share/tools",
                                                  "  /srv/share/tools/QuellitProject.HLP"},
                                         PathCase{"", "/QuellitProject.HLP"}));

TEST_F(Help, SetUpOpensNothing) {
    HelpSetup(form, handle());
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(form.contextIds.helpOwner, handle());
}

TEST_F(Help, ButtonAndMenuItemAskForTheContentsAlike) {
    HelpSetup(form, handle());
    Command1_Click(form);
    mnuHelp_Click(form);
    Command1_Click(form);
    const Call contents{handle(), "/opt/tavro/QuellitProject.HLP", HELP_CONTENTS, 0};
    EXPECT_EQ(calls(), (Calls{contents, contents, contents}));
    EXPECT_TRUE(messages().empty());
}

TEST_F(Help, ContentsUseTheWindowHandleOfTheMoment) {
    HelpSetup(form, handle());
    const WindowHandle setUp = handle();
    fake.toolkit.window.handle = 0x3B11;
    mnuHelp_Click(form);
    ASSERT_EQ(calls().size(), 1U);
    EXPECT_EQ(calls()[0].owner, 0x3B11);
    HelpQuit(form);
    EXPECT_EQ(calls().back().owner, setUp);
}

TEST_F(Help, WithoutSetUpBothHandlersSayThereIsNoHelp) {
    Command1_Click(form);
    mnuHelp_Click(form);
    const MessageBoxRequest noHelp{
        "Unable to display Help Contents. There is no Help associated with this project.", MessageButtons::Ok,
        MessageIcon::Information, "Tavro Popup Blocker Version 2.7"};
    EXPECT_EQ(messages(), (std::vector<MessageBoxRequest>{noHelp, noHelp}));
    EXPECT_TRUE(calls().empty());
}

TEST_F(Help, AViewerErrorIsShownAndTheHandlerEnds) {
    HelpSetup(form, handle());
    fake.helpViewer.fail = true;
    Command1_Click(form);
    mnuHelp_Click(form);
    const MessageBoxRequest failure{"The help viewer could not be started", MessageButtons::Ok,
                                    MessageIcon::None, "Tavro Popup Blocker"};
    EXPECT_EQ(messages(), (std::vector<MessageBoxRequest>{failure, failure}));
    EXPECT_EQ(calls().size(), 2U);
    EXPECT_FALSE(fake.toolkit.window.destroyed);
}

TEST_F(Help, QuitCarriesTheSetUpHandleWhenHelpWasNeverShown) {
    HelpSetup(form, 0x1234);
    HelpQuit(form);
    EXPECT_EQ(calls(), (Calls{{0x1234, "/opt/tavro/QuellitProject.HLP", HELP_QUIT, 0}}));
}

TEST(HelpContextOf, ControlsTheirContainersAndTheWindow) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"lstWhiteList", 100},
        {"chkMenubar", 110},
        {"Command2", 130},
        {"Command1", 10},
        {"chkBeep", 20},
        {"chkHideOnStart", 40},
        {"cmd_Enable", 60},
        {"cmd_Hide", 70},
        {"cmd_Quit", 80},
        {"lstBlockedUrls", 90},
        {"Frame3", 90},
        {"Frame4", 100},
        {"Picture1", 10},
        {"lnkSearch", 10},
        {"lnkFeedback", 10},
        {"Frame1", 10},
        {"mnuTrayIconPopup", 210},
        {"mnuHelp", 210},
        {"", 10},
        {"noSuchControl", 10},
    };
    for (const auto& [name, topic] : cases)
        EXPECT_EQ(HelpContextOf(name), topic) << name;
}

TEST_F(Help, F1AsksForTheFocusedControlsTopic) {
    HelpSetup(form, handle());
    for (const char* focused : {"lstWhiteList", "chkMenubar", "Command2", "Command1"})
        ShowHelpTopic(form, focused);
    const std::string file = "/opt/tavro/QuellitProject.HLP";
    EXPECT_EQ(calls(), (Calls{{handle(), file, HELP_CONTEXT, 100},
                              {handle(), file, HELP_CONTEXT, 110},
                              {handle(), file, HELP_CONTEXT, 130},
                              {handle(), file, HELP_CONTEXT, 10}}));
}

TEST_F(Help, F1WithoutAHelpFileDoesNothingAndAFailureIsShown) {
    ShowHelpTopic(form, "chkBeep");
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(messages().empty());

    HelpSetup(form, handle());
    fake.helpViewer.fail = true;
    ShowHelpTopic(form, "chkBeep");
    ASSERT_EQ(messages().size(), 1U);
    EXPECT_EQ(messages()[0].text, "The help viewer could not be started");
    EXPECT_EQ(messages()[0].title, "Tavro Popup Blocker");
}

} // namespace
} // namespace tavro

#include "app/form_events.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using Call = fakes::FakeHelpViewer::Call;
using Calls = std::vector<Call>;

// The window's events reach the help handlers: the two Help commands, F1 and
// the quit at the end, with the handle the window had at start-up.
TEST(HelpEvents, ButtonMenuItemF1AndExit) {
    fakes::FakePlatform fake;
    fake.toolkit.folder = "/usr/lib/tavro";
    Quellit form{fake.platform};
    QuellitEvents events{form};
    fake.toolkit.window.events = &events;
    const WindowHandle atStart = fake.toolkit.window.handle;
    events.Form_Load();

    const std::string file = "/usr/lib/tavro/QuellitProject.HLP";
    events.Click("Command1");
    events.Click("mnuHelp");
    events.HelpKey("chkMenubar");
    events.HelpKey("Command1");
    events.HelpKey("");
    EXPECT_EQ(fake.helpViewer.calls, (Calls{{atStart, file, HELP_CONTENTS, 0},
                                            {atStart, file, HELP_CONTENTS, 0},
                                            {atStart, file, HELP_CONTEXT, 110},
                                            {atStart, file, HELP_CONTEXT, 10},
                                            {atStart, file, HELP_CONTEXT, 10}}));

    fake.helpViewer.calls.clear();
    fake.toolkit.window.handle = 0x5150;
    events.Click("mnuExit");
    ASSERT_FALSE(fake.helpViewer.calls.empty());
    EXPECT_EQ(fake.helpViewer.calls.front(), (Call{atStart, file, HELP_QUIT, 0}));
    EXPECT_TRUE(fake.toolkit.messages.empty());
}

} // namespace
} // namespace tavro

// The allowed-domain handlers as the window's events reach them.
#include "app/form_events.h"
#include "form/failure_rule.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tavro {
namespace {

using fakes::FakePlatform;
using fakes::Terminated;

class AllowedEventsTest : public ::testing::Test {
protected:
    void SetUp() override { fake.toolkit.window.events = &events; }

    FakePlatform fake;
    Quellit form{fake.platform};
    QuellitEvents events{form};
    const std::string path = "/opt/tavro/Whitelst.txt";
};

TEST_F(AllowedEventsTest, EditsByDoubleClickReachTheFileAtExit) {
    fake.files.files[path] = "a.example\nb.example\n";
    events.Form_Load();
    form.lstBlockedUrls.append("ads.site.example");
    form.lstBlockedUrls.setSelected(0);
    form.lstWhiteList.setSelected(0);

    events.DblClick("lstBlockedUrls");
    events.DblClick("lstWhiteList");
    events.Click("cmd_Quit");

    EXPECT_EQ(fake.files.files[path], "b.example\r\nads.site.example\r\n");
    EXPECT_TRUE(fake.toolkit.window.destroyed);
    ASSERT_EQ(fake.toolkit.messages.size(), 2U);
    EXPECT_EQ(fake.toolkit.messages[0].text, "Add ads.site.example to Allowed Domains?");
    EXPECT_EQ(fake.toolkit.messages[1].text, "Remove a.example from Allowed Domains?");
}

TEST_F(AllowedEventsTest, StartUpEndsWhenTheMissingFileCannotBeCreated) {
    fake.files.unwritable = true;
    try {
        events.Form_Load();
        FAIL() << "the program went on";
    } catch (const Terminated& t) {
        EXPECT_EQ(t.status, 1);
    }
    ASSERT_FALSE(fake.toolkit.messages.empty());
    EXPECT_EQ(fake.toolkit.messages.back().text, failureMessage(errc::PermissionDenied, "Permission denied"));
    EXPECT_EQ(fake.toolkit.messages.back().icon, MessageIcon::Critical);
}

} // namespace
} // namespace tavro

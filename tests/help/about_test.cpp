#include "app/form_events.h"
#include "form/design.h"
#include "form/program_facts.h"
#include "form/quellit.h"
#include "help/about.h"
#include "tests/fakes/fake_platform.h"

#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace tavro {
namespace {

const std::string Site = "http://www.site.example";

class About : public testing::Test {
protected:
    fakes::FakePlatform fake;
    Quellit form{fake.platform};
};

TEST_F(About, ShowsTheProductAndItsFullVersion) {
    mnuAbout_Click(form);
    EXPECT_EQ(fake.toolkit.messages,
              (std::vector<MessageBoxRequest>{{"Tavro Popup Blocker Version 2.7.0", MessageButtons::Ok,
                                               MessageIcon::None, "Tavro Popup Blocker"}}));
}

TEST(AboutText, NumbersAreWrittenUnpadded) {
    EXPECT_EQ(versionText("Tavro Popup Blocker", VersionParts::WithRevision, 2, 7, 12),
              "Tavro Popup Blocker Version 2.7.12");
    EXPECT_EQ(versionText("P", VersionParts::WithRevision, 10, 0, 0), "P Version 10.0.0");
    EXPECT_EQ(versionText("P", VersionParts::MajorMinor, 10, 3, 1), "P Version 10.3");
}

TEST_F(About, EveryLogoClickOpensTheSiteRoot) {
    Picture1_Click(form, Site);
    Picture1_Click(form, Site + "/");
    ASSERT_EQ(fake.browser.opened.size(), 2u);
    for (const fakes::OpenedBrowser& window : fake.browser.opened) {
        EXPECT_EQ(window.url, Site + "/");
        EXPECT_TRUE(window.visible);
    }
    EXPECT_TRUE(fake.toolkit.messages.empty());
}

// Ending the program here would lose the allowed domains and options changed
// since start, so a browser that cannot be opened is only reported.
TEST_F(About, LogoWithoutABrowserReportsAndKeepsRunning) {
    fake.browser.failNewBrowser = true;
    EXPECT_NO_THROW(Picture1_Click(form, Site));
    fake.browser.failNewBrowser = false;
    fake.browser.failNavigate = true;
    EXPECT_NO_THROW(Picture1_Click(form, Site));

    ASSERT_EQ(fake.toolkit.messages.size(), 2u);
    EXPECT_EQ(fake.toolkit.messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(fake.toolkit.messages[0].text.find("429"), std::string::npos);
    EXPECT_NE(fake.toolkit.messages[0].text.find("can't create object"), std::string::npos);
    EXPECT_NE(fake.toolkit.messages[1].text.find("Automation error"), std::string::npos);
    EXPECT_TRUE(fake.browser.opened.empty());

    // Still running: the next click opens the site.
    fake.browser.failNavigate = false;
    Picture1_Click(form, Site);
    EXPECT_EQ(fake.browser.opened.size(), 1u);
}

TEST_F(About, LogoFailureOfAnyKindIsOnlyReported) {
    fake.browser.newBrowserFailure = std::make_exception_ptr(std::bad_alloc());
    EXPECT_NO_THROW(Picture1_Click(form, Site));
    fake.browser.newBrowserFailure = std::make_exception_ptr(std::runtime_error("socket closed"));
    EXPECT_NO_THROW(Picture1_Click(form, Site));
    ASSERT_EQ(fake.toolkit.messages.size(), 2u);
    EXPECT_EQ(fake.toolkit.messages[0].text, "Run-time error '7':\n\nOut of memory");
    EXPECT_EQ(fake.toolkit.messages[1].text, "Run-time error '51':\n\nInternal error (socket closed)");
}

// Through the window's event boundary, where an error that escaped would end the program.
TEST_F(About, ClicksReachTheirHandlersAndALogoFailureDoesNotEndTheProgram) {
    QuellitEvents events(form);
    events.Click("mnuAbout");
    fake.browser.failNewBrowser = true;
    EXPECT_NO_THROW(events.Click("Picture1")); // the fake toolkit's terminate throws
    ASSERT_EQ(fake.toolkit.messages.size(), 2u);
    EXPECT_EQ(fake.toolkit.messages[0].text, "Tavro Popup Blocker Version 2.7.0");
    EXPECT_EQ(fake.toolkit.messages[1].icon, MessageIcon::Critical);

    fake.browser.failNewBrowser = false;
    events.Click("Picture1");
    ASSERT_EQ(fake.browser.opened.size(), 1u);
    EXPECT_EQ(fake.browser.opened[0].url, std::string(WebSite) + "/");
}

TEST(LinkTarget, EachLinkLabelLeadsToItsPathOnTheSite) {
    EXPECT_EQ(linkTarget("lnkSearch", Site), Site);
    EXPECT_EQ(linkTarget("lnkFeedback", Site), Site + "/feedback");
    EXPECT_EQ(linkTarget("lnkRefer", Site), Site + "/refer");
    // A configured address ending in "/" still gives the search link no trailing "/".
    EXPECT_EQ(linkTarget("lnkSearch", Site + "/"), Site);
    EXPECT_EQ(linkTarget("lnkRefer", Site + "//"), Site + "/refer");
}

TEST(LinkTarget, OtherControlsHaveNone) {
    EXPECT_EQ(linkTarget("Picture1", Site), "");
    EXPECT_EQ(linkTarget("Command2", Site), "");
    EXPECT_EQ(linkTarget("noSuchControl", Site), "");
}

// Every link label of the window has a target on the configured site.
TEST(LinkTarget, BuiltFromTheConfiguredSite) {
    int links = 0;
    for (const ControlDesign& control : controlDesigns()) {
        if (control.kind != ControlKind::HyperLink)
            continue;
        ++links;
        EXPECT_EQ(linkTarget(control.name).rfind(std::string(WebSite), 0), 0u) << control.name;
    }
    EXPECT_EQ(links, 3);
}

} // namespace
} // namespace tavro

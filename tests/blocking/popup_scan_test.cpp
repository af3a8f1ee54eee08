#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using fakes::entries;

using fakes::FakeWindowLayout;
using fakes::ToneCall;

using Entries = std::vector<std::string>;
const std::string Ads = "ads.site.example";

class PopupScan : public testing::Test {
protected:
    PopupScan() { form.chkBeep.setValue(CheckBox::Checked); }

    int tones() const { return static_cast<int>(fake.tone.calls.size()); }

    fakes::FakePlatform fake;
    Quellit form{fake.platform};
};

TEST(SplitUrl, SplitsIntoAtMostFourParts) {
    EXPECT_EQ(splitUrl("http://ads.site.example/win/offer.html"),
              (Entries{"http:", "", "ads.site.example", "win/offer.html"}));
    EXPECT_EQ(splitUrl("http://host:8080"), (Entries{"http:", "", "host:8080"}));
    EXPECT_EQ(splitUrl("file:///C:/page.html"), (Entries{"file:", "", "", "C:/page.html"}));
    EXPECT_EQ(splitUrl("about:blank"), (Entries{"about:blank"}));
    EXPECT_EQ(splitUrl("a/b"), (Entries{"a", "b"}));
    EXPECT_EQ(splitUrl("a/b/"), (Entries{"a", "b", ""}));
    EXPECT_TRUE(splitUrl("").empty());
}

// Every row of the outcome table, for a window with an HTML document and a domain.
struct OutcomeRow {
    const char* name;
    bool ctrl;
    bool opener;
    bool menuBar;
    std::int16_t aggressive;
    bool allowed;
    // Expected:
    Entries whiteList;
    Entries blockedList;
    int quits;
    int tones;
};

void PrintTo(const OutcomeRow& row, std::ostream* os) {
    *os << row.name;
}

class Outcomes : public PopupScan, public testing::WithParamInterface<OutcomeRow> {};

TEST_P(Outcomes, MatchTheTable) {
    const OutcomeRow& row = GetParam();
    fake.keys.ctrlDown = row.ctrl;
    form.chkMenubar.setValue(row.aggressive);
    if (row.allowed)
        form.lstWhiteList.append(Ads);
    auto& popup = fake.browser.add({.opener = row.opener, .menuBar = row.menuBar});

    Timer1_Timer(form);

    EXPECT_EQ(entries(form.lstWhiteList), row.whiteList);
    EXPECT_EQ(entries(form.lstBlockedUrls), row.blockedList);
    EXPECT_EQ(popup.quitRequests, row.quits);
    EXPECT_EQ(tones(), row.tones);
    for (const ToneCall& call : fake.tone.calls)
        EXPECT_EQ(call, (ToneCall{800, 25}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Outcomes,
    testing::Values(OutcomeRow{"CtrlLetsThrough", true, true, false, 0, false, {Ads}, {}, 0, 0},
                    OutcomeRow{
                        "CtrlLetsThroughWithMenuBarAggressive", true, true, true, 1, false, {Ads}, {}, 0, 0},
                    OutcomeRow{"NoOpener", false, false, false, 1, false, {}, {}, 0, 0},
                    OutcomeRow{"NoOpenerCtrl", true, false, false, 1, false, {}, {}, 0, 0},
                    OutcomeRow{"Allowed", false, true, false, 1, true, {Ads}, {}, 0, 0},
                    OutcomeRow{"AllowedCtrl", true, true, false, 1, true, {Ads}, {}, 0, 0},
                    OutcomeRow{"PopupClosed", false, true, false, 0, false, {}, {Ads}, 1, 1},
                    OutcomeRow{"PopupAggressiveClosedTwice", false, true, false, 1, false, {}, {Ads}, 2, 2},
                    OutcomeRow{"PopupGrayedAggressiveIsOn", false, true, false, 2, false, {}, {Ads}, 2, 2},
                    OutcomeRow{"MenuBarAggressiveClosed", false, true, true, 1, false, {}, {Ads}, 1, 1},
                    OutcomeRow{"MenuBarLeftOpen", false, true, true, 0, false, {}, {}, 0, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PopupScan, CtrlMovesTheDomainOutOfTheBlockedList) {
    form.lstBlockedUrls.append("other.example");
    form.lstBlockedUrls.append(Ads);
    form.lstBlockedUrls.append(Ads); // only the first from the top leaves
    fake.keys.ctrlDown = true;
    fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstWhiteList), (Entries{Ads}));
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"other.example", Ads}));
}

// Ctrl held over several windows: the newest of those the block path would
// close, the last in the walk, is let through, and nothing is closed.
struct CtrlRow {
    const char* name;
    std::int16_t aggressive;
    std::vector<FakeWindowLayout> windows;
    Entries whiteList;
};

void PrintTo(const CtrlRow& row, std::ostream* os) {
    *os << row.name;
}

FakeWindowLayout popupFrom(const std::string& domain) {
    return {.url = "http://" + domain + "/ad.html"};
}

FakeWindowLayout scriptTabFrom(const std::string& domain) {
    return {.url = "http://" + domain + "/ad.html", .menuBar = true};
}

const FakeWindowLayout OpenerPage{.url = "http://site.example/", .opener = false, .menuBar = true};

class CtrlHeld : public PopupScan, public testing::WithParamInterface<CtrlRow> {};

TEST_P(CtrlHeld, LetsOnlyTheNewestWindowTheBlockPathWouldCloseThrough) {
    const CtrlRow& row = GetParam();
    fake.keys.ctrlDown = true;
    form.chkMenubar.setValue(row.aggressive);
    for (const FakeWindowLayout& layout : row.windows)
        fake.browser.add(layout);

    Timer1_Timer(form);

    EXPECT_EQ(entries(form.lstWhiteList), row.whiteList);
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
    EXPECT_EQ(tones(), 0);
    for (const auto& window : fake.browser.shell->windows)
        EXPECT_EQ(window->quitRequests, 0) << window->layout.url;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CtrlHeld,
    testing::Values(CtrlRow{"NewestPopupPastAKeptTab",
                            CheckBox::Unchecked,
                            {OpenerPage, popupFrom("old.example"), scriptTabFrom("tab.example"),
                             popupFrom("new.example")},
                            {"new.example"}},
                    CtrlRow{"NothingWhenEveryTabIsKept",
                            CheckBox::Unchecked,
                            {OpenerPage, scriptTabFrom("tab.example"), scriptTabFrom("other.example")},
                            {}},
                    CtrlRow{"AggressiveTabIsOneTheBlockPathCloses",
                            CheckBox::Checked,
                            {OpenerPage, popupFrom("old.example"), scriptTabFrom("tab.example")},
                            {"tab.example"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PopupScan, AlreadyBlockedDomainIsNotListedTwiceButStillClosedWithATone) {
    form.lstBlockedUrls.append(Ads);
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
    EXPECT_EQ(popup.quitRequests, 1);
    EXPECT_EQ(tones(), 1);
}

TEST_F(PopupScan, TwoPopupsOfOneDomainInOneTickGiveOneEntry) {
    auto& a = fake.browser.add();
    auto& b = fake.browser.add({.url = "http://ads.site.example/other"});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
    EXPECT_EQ(a.quitRequests, 1);
    EXPECT_EQ(b.quitRequests, 1);
}

TEST_F(PopupScan, BlockedDomainsAreListedInTheOrderFirstBlocked) {
    fake.browser.add({.url = "http://b.example/"});
    fake.browser.add({.url = "http://a.example/"});
    fake.browser.add({.url = "http://b.example/x"});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"b.example", "a.example"}));
}

TEST_F(PopupScan, ComparesDomainsExactly) {
    form.lstWhiteList.append("site.example");
    form.lstWhiteList.append("ADS.SITE.EXAMPLE");
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(popup.quitRequests, 1);
}

TEST_F(PopupScan, PortAndUserInformationArePartOfTheDomain) {
    fake.browser.add({.url = "http://ads.localhost:8123/pop.html"});
    fake.browser.add({.url = "http://user@ads.site.example/"});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"ads.localhost:8123", "user@ads.site.example"}));
}

TEST_F(PopupScan, BeepOnlyWhenExactlyChecked) {
    for (const std::int16_t value : {CheckBox::Unchecked, CheckBox::Grayed}) {
        form.chkBeep.setValue(value);
        auto& popup = fake.browser.add();
        Timer1_Timer(form);
        EXPECT_EQ(popup.quitRequests, 1);
        EXPECT_EQ(tones(), 0) << "chkBeep " << value;
        fake.browser.shell->windows.clear();
    }
}

TEST_F(PopupScan, PassesOverWhatIsNoHtmlPopup) {
    auto& folder = fake.browser.add({.html = false, .url = "file:///home/user"});
    auto& empty = fake.browser.add({.hasDocument = false});
    auto& fileUrl = fake.browser.add({.url = "file:///C:/page.html"});
    Timer1_Timer(form);
    fake.keys.ctrlDown = true;
    Timer1_Timer(form);
    for (auto* w : {&folder, &empty, &fileUrl})
        EXPECT_EQ(w->quitRequests, 0);
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    EXPECT_EQ(tones(), 0);
}

TEST_F(PopupScan, AboutBlankIsLeftAloneWithCtrlUp) {
    auto& blank = fake.browser.add({.url = "about:blank"});
    auto& after = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(blank.quitRequests, 0);
    EXPECT_EQ(after.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
}

TEST_F(PopupScan, AboutBlankWithCtrlDownIsPassedOverSoThePopupAfterItIsAllowed) {
    fake.keys.ctrlDown = true;
    auto& blank = fake.browser.add({.url = "about:blank"});
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(blank.quitRequests, 0);
    EXPECT_EQ(popup.quitRequests, 0);
    EXPECT_EQ(entries(form.lstWhiteList), (Entries{Ads}));
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
}

TEST_F(PopupScan, UnreadableOpenerWithCtrlUpIsListedOnceBeepedAndClosedTwice) {
    // Whatever the menu bar, chkMenubar and the allowed list say.
    form.lstWhiteList.append(Ads);
    auto& popup = fake.browser.add({.opener = false, .menuBar = true, .failOpener = true});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
    EXPECT_EQ(popup.quitRequests, 2);
    EXPECT_EQ(tones(), 2);
}

TEST_F(PopupScan, UnreadableOpenerWithCtrlDownAllowsTheDomain) {
    form.lstBlockedUrls.append(Ads);
    fake.keys.ctrlDown = true;
    auto& popup = fake.browser.add({.failOpener = true});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstWhiteList), (Entries{Ads}));
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
    EXPECT_EQ(popup.quitRequests, 0);
}

TEST_F(PopupScan, UnreadableOpenerWithCtrlDownOfAnAllowedDomainAddsNoDuplicate) {
    form.lstWhiteList.append(Ads);
    fake.keys.ctrlDown = true;
    fake.browser.add({.failOpener = true});
    Timer1_Timer(form);
    EXPECT_EQ(entries(form.lstWhiteList), (Entries{Ads}));
}

TEST_F(PopupScan, UnreadableMenuBarCountsAsAPopup) {
    auto& popup = fake.browser.add({.menuBar = true, .failMenuBar = true});
    Timer1_Timer(form);
    EXPECT_EQ(popup.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
}

TEST_F(PopupScan, FailedDocumentReadKeepsThePreviousDocument) {
    // The second window's read fails; it is judged by the first window's
    // document (an HTML document with an opener) and its own URL.
    fake.browser.add({.url = "http://plain.example/", .opener = false});
    auto& failing = fake.browser.add({.url = "http://pop.example/x", .failDocument = true});
    fake.browser.shell->windows.front()->layout.opener = true;
    form.lstWhiteList.append("plain.example");
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"pop.example"}));
}

TEST_F(PopupScan, FailedDocumentReadAfterAReleaseFindsNoDocument) {
    // The first window is passed over at its empty domain, which releases the
    // document; the failing window then holds no document and is passed over.
    fake.browser.add({.url = "file:///C:/page.html"});
    auto& failing = fake.browser.add({.failDocument = true});
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 0);
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
}

TEST_F(PopupScan, FailedDocumentReadOnTheFirstWindowOfATickPassesItOver) {
    auto& failing = fake.browser.add({.failDocument = true});
    auto& after = fake.browser.add({.url = "http://next.example/"});
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 0);
    EXPECT_EQ(after.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"next.example"}));
}

TEST_F(PopupScan, FailedUrlReadKeepsThePreviousParts) {
    fake.browser.add({.url = "http://first.example/"});
    auto& failing = fake.browser.add({.url = "http://second.example/", .failUrl = true});
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{"first.example"}));
}

TEST_F(PopupScan, FailedUrlReadOnTheFirstWindowLeavesItAlone) {
    auto& failing = fake.browser.add({.failUrl = true});
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 0);
    EXPECT_EQ(form.lstBlockedUrls.count(), 0);
}

TEST_F(PopupScan, FailedCloseRequestIsPassedOver) {
    auto& failing = fake.browser.add({.failQuit = true});
    auto& after = fake.browser.add({.url = "http://next.example/"});
    Timer1_Timer(form);
    EXPECT_EQ(failing.quitRequests, 1);
    EXPECT_EQ(after.quitRequests, 1);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads, "next.example"}));
    EXPECT_EQ(tones(), 2);
}

TEST_F(PopupScan, FailedToneIsPassedOver) {
    fake.tone.fail = true;
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(popup.quitRequests, 1);
}

TEST_F(PopupScan, FailedKeyStateReadsAsUp) {
    fake.keys.fail = true;
    fake.keys.ctrlDown = true;
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(popup.quitRequests, 1);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
}

TEST_F(PopupScan, FailureWhileSteppingTheWalkEndsTheTick) {
    auto& first = fake.browser.add({.url = "http://first.example/"});
    auto& second = fake.browser.add({.url = "http://second.example/"});
    fake.browser.shell->failStepAt = 1;
    Timer1_Timer(form);
    EXPECT_EQ(first.quitRequests, 1);
    EXPECT_EQ(second.documentReads, 0);
}

TEST_F(PopupScan, CollectionCreationIsRetriedEachTickWhileMissingThenKept) {
    fake.browser.failCreate = true;
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    Timer1_Timer(form);
    EXPECT_EQ(fake.browser.creations, 2);
    EXPECT_EQ(popup.documentReads, 0);
    EXPECT_EQ(form.BrowserWindows, nullptr);

    fake.browser.failCreate = false;
    Timer1_Timer(form);
    Timer1_Timer(form);
    EXPECT_EQ(fake.browser.creations, 3);
    EXPECT_EQ(popup.quitRequests, 2); // still in the collection: asked again
    EXPECT_EQ(tones(), 2);
    EXPECT_EQ(entries(form.lstBlockedUrls), (Entries{Ads}));
}

TEST_F(PopupScan, AWalkThatCannotStartExaminesNothing) {
    fake.browser.shell->failWalk = true;
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(popup.documentReads, 0);
    EXPECT_NE(form.BrowserWindows, nullptr);
}

TEST_F(PopupScan, OpenerIsReadAfreshForEachTest) {
    form.chkMenubar.setValue(CheckBox::Checked);
    auto& popup = fake.browser.add();
    Timer1_Timer(form);
    EXPECT_EQ(popup.openerReads, 2); // pop-up test and aggressive test
    fake.keys.ctrlDown = true;
    Timer1_Timer(form);
    EXPECT_EQ(popup.openerReads, 4); // the same tests decide what Ctrl lets through
}

TEST_F(PopupScan, TestsReadEveryConditionEvenWhenTheFirstSettlesIt) {
    // The menu bar shown already fails the pop-up test, yet the opener is read
    // (and its failure makes the test hold).
    auto& popup = fake.browser.add({.menuBar = true});
    Timer1_Timer(form);
    EXPECT_EQ(popup.openerReads, 2);
    EXPECT_EQ(popup.quitRequests, 0);
}

} // namespace
} // namespace tavro

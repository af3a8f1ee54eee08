#include "allowed/list_editing.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace tavro {
namespace {

using fakes::entries;

using fakes::FakePlatform;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

void fill(ListBox& list, std::initializer_list<const char*> texts) {
    for (const char* t : texts)
        list.append(t);
}

MessageBoxRequest question(std::string text) {
    return {std::move(text), MessageButtons::YesNo, MessageIcon::None, {}};
}

class ListEditingTest : public ::testing::Test {
protected:
    FakePlatform fake;
    Quellit form{fake.platform};
};

TEST_F(ListEditingTest, YesMovesABlockedDomainToTheEndOfTheAllowedList) {
    fill(form.lstBlockedUrls, {"x.example", "ads.site.example", "y.example"});
    fill(form.lstWhiteList, {"a.example"});
    form.lstBlockedUrls.setSelected(1);
    fake.toolkit.answers = {MessageAnswer::Yes};

    lstBlockedUrls_DblClick(form);

    EXPECT_THAT(fake.toolkit.messages, ElementsAre(question("Add ads.site.example to Allowed Domains?")));
    EXPECT_THAT(entries(form.lstWhiteList), ElementsAre("a.example", "ads.site.example"));
    EXPECT_THAT(entries(form.lstBlockedUrls), ElementsAre("x.example", "y.example"));
    EXPECT_EQ(form.lstBlockedUrls.selected(), ListBox::NoSelection);
}

TEST_F(ListEditingTest, YesOnAnAlreadyAllowedDomainAddsNoDuplicateButStillRemovesIt) {
    fill(form.lstBlockedUrls, {"ads.site.example"});
    fill(form.lstWhiteList, {"ads.site.example", "a.example"});
    form.lstBlockedUrls.setSelected(0);

    lstBlockedUrls_DblClick(form);

    EXPECT_THAT(entries(form.lstWhiteList), ElementsAre("ads.site.example", "a.example"));
    EXPECT_THAT(entries(form.lstBlockedUrls), IsEmpty());
}

TEST_F(ListEditingTest, YesRemovesAnAllowedDomainWithoutListingItAsBlocked) {
    fill(form.lstWhiteList, {"a.example", "b.example", "c.example"});
    fill(form.lstBlockedUrls, {"x.example"});
    form.lstWhiteList.setSelected(1);
    fake.toolkit.answers = {MessageAnswer::Yes};

    lstWhiteList_DblClick(form);

    EXPECT_THAT(fake.toolkit.messages, ElementsAre(question("Remove b.example from Allowed Domains?")));
    EXPECT_THAT(entries(form.lstWhiteList), ElementsAre("a.example", "c.example"));
    EXPECT_THAT(entries(form.lstBlockedUrls), ElementsAre("x.example"));
    EXPECT_EQ(form.lstWhiteList.selected(), ListBox::NoSelection);
}

// Both handlers, run on a list where the case applies, must leave both lists as they were.
class NoChangeTest : public ListEditingTest, public ::testing::WithParamInterface<bool> {
protected:
    bool blockedList() const { return GetParam(); }
    ListBox& clicked() { return blockedList() ? form.lstBlockedUrls : form.lstWhiteList; }
    void doubleClick() { blockedList() ? lstBlockedUrls_DblClick(form) : lstWhiteList_DblClick(form); }

    void expectUnchanged(const std::vector<std::string>& blocked, const std::vector<std::string>& allowed) {
        EXPECT_EQ(entries(form.lstBlockedUrls), blocked);
        EXPECT_EQ(entries(form.lstWhiteList), allowed);
    }
};

TEST_P(NoChangeTest, NoLeavesBothListsAlone) {
    fill(form.lstBlockedUrls, {"x.example", "y.example"});
    fill(form.lstWhiteList, {"a.example", "b.example"});
    clicked().setSelected(1);
    fake.toolkit.answers = {MessageAnswer::No};

    doubleClick();

    EXPECT_EQ(fake.toolkit.messages.size(), 1U);
    expectUnchanged({"x.example", "y.example"}, {"a.example", "b.example"});
    EXPECT_EQ(clicked().selected(), 1);
}

TEST_P(NoChangeTest, EmptyListAsksNothing) {
    fill(blockedList() ? form.lstWhiteList : form.lstBlockedUrls, {"other.example"});
    doubleClick();
    EXPECT_THAT(fake.toolkit.messages, IsEmpty());
    EXPECT_EQ(form.lstBlockedUrls.count() + form.lstWhiteList.count(), 1);
}

TEST_P(NoChangeTest, NoSelectionAsksNothing) {
    fill(form.lstBlockedUrls, {"x.example"});
    fill(form.lstWhiteList, {"a.example"});
    doubleClick();
    EXPECT_THAT(fake.toolkit.messages, IsEmpty());
    expectUnchanged({"x.example"}, {"a.example"});
}

TEST_P(NoChangeTest, YesAfterTheSelectedEntryWasRemovedWhileAskingChangesNothing) {
    fill(form.lstBlockedUrls, {"x.example", "y.example", "z.example"});
    fill(form.lstWhiteList, {"a.example", "b.example", "c.example"});
    clicked().setSelected(1);
    fake.toolkit.whileWaiting = [this] { clicked().removeAt(1); };
    fake.toolkit.answers = {MessageAnswer::Yes};

    doubleClick();

    if (blockedList())
        expectUnchanged({"x.example", "z.example"}, {"a.example", "b.example", "c.example"});
    else
        expectUnchanged({"x.example", "y.example", "z.example"}, {"a.example", "c.example"});
}

INSTANTIATE_TEST_SUITE_P(BothLists, NoChangeTest, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Blocked" : "Allowed"; });

TEST_F(ListEditingTest, YesActsOnTheSelectedEntryEvenWhenATickMovedIt) {
    fill(form.lstBlockedUrls, {"x.example", "ads.site.example", "y.example"});
    form.lstBlockedUrls.setSelected(1);
    // A tick removes an entry before the selected one and appends a new one.
    fake.toolkit.whileWaiting = [this] {
        form.lstBlockedUrls.removeAt(0);
        form.lstBlockedUrls.append("new.example");
    };

    lstBlockedUrls_DblClick(form);

    EXPECT_THAT(entries(form.lstWhiteList), ElementsAre("ads.site.example"));
    EXPECT_THAT(entries(form.lstBlockedUrls), ElementsAre("y.example", "new.example"));
}

TEST_F(ListEditingTest, QuestionKeepsTheDomainExactlyAsListed) {
    fill(form.lstBlockedUrls, {" Odd.Example:81 "});
    fill(form.lstWhiteList, {"\xC3\xBC.example"});
    form.lstBlockedUrls.setSelected(0);
    form.lstWhiteList.setSelected(0);
    fake.toolkit.answers = {MessageAnswer::No, MessageAnswer::No};

    lstBlockedUrls_DblClick(form);
    lstWhiteList_DblClick(form);

    EXPECT_THAT(fake.toolkit.messages,
                ElementsAre(question("Add  Odd.Example:81  to Allowed Domains?"),
                            question("Remove \xC3\xBC.example from Allowed Domains?")));
}

} // namespace
} // namespace tavro

#include "allowed/allowed_domains.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tavro {
namespace {

using fakes::entries;

using fakes::FakePlatform;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class AllowedDomainsTest : public ::testing::Test {
protected:
    FakePlatform fake;
    Quellit form{fake.platform};
    const std::string path = "/opt/tavro/Whitelst.txt";
};

TEST_F(AllowedDomainsTest, PathIsTheProgramFolderAndTheFileNameJoinedByOneSeparator) {
    EXPECT_EQ(allowedDomainsPath(form), "/opt/tavro/Whitelst.txt");
    fake.toolkit.folder = "/";
    EXPECT_EQ(allowedDomainsPath(form), "/Whitelst.txt");
    fake.toolkit.folder = "/home/u/my programs";
    EXPECT_EQ(allowedDomainsPath(form), "/home/u/my programs/Whitelst.txt");
}

struct LoadCase {
    const char* name;
    std::string content;
    std::vector<std::string> expected;
};

class LoadTest : public AllowedDomainsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, ReadsTheFieldsIntoTheAllowedList) {
    fake.files.files[path] = GetParam().content;
    LoadAllowedDomains(form);
    EXPECT_THAT(entries(form.lstWhiteList), ElementsAreArray(GetParam().expected));
    EXPECT_EQ(fake.files.openInputs, 0);
    EXPECT_EQ(fake.files.files[path], GetParam().content) << "a load never writes";
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadTest,
    ::testing::Values(
        LoadCase{"Empty", "", {}},
        LoadCase{"AsSaved", "a.example\r\nb.example\r\n", {"a.example", "b.example"}},
        LoadCase{"SameDomainTwiceKeepsTheFirstPosition",
                 "a.example\r\nb.example\r\na.example\r\n",
                 {"a.example", "b.example"}},
        LoadCase{"TwoNamesOnOneLine", "b.example,a.example\r\n", {"b.example", "a.example"}},
        LoadCase{"QuotedFieldHoldsAComma", "\"a,b.example\"\r\nc.example", {"a,b.example", "c.example"}},
        LoadCase{"LeadingSpacesDropped",
                 "   a.example\r\n  b.example,  c.example",
                 {"a.example", "b.example", "c.example"}},
        LoadCase{"TrailingSpacesKept", "a.example  ,b.example \r\n", {"a.example  ", "b.example "}},
        LoadCase{"CaseDiffers", "A.example\r\na.example\r\n", {"A.example", "a.example"}},
        LoadCase{"EmptyFieldsAndBlankLinesAddNothing",
                 "\r\n\r\na.example,,b.example\r\n\r\n , \r\n",
                 {"a.example", "b.example"}},
        LoadCase{"LastLineWithoutLineEnd", "a.example\r\nb.example", {"a.example", "b.example"}},
        LoadCase{"LfOnly", "a.example\nb.example\n", {"a.example", "b.example"}},
        LoadCase{"CrOnly", "a.example\rb.example\r", {"a.example", "b.example"}},
        LoadCase{"LfCrIsTwoLineEnds", "a.example\n\rb.example", {"a.example", "b.example"}},
        LoadCase{
            "AfterClosingQuoteDroppedToComma", "\"a.example\"junk,b.example", {"a.example", "b.example"}},
        LoadCase{
            "AfterClosingQuoteDroppedToLineEnd", "\"a.example\" x\r\nb.example", {"a.example", "b.example"}},
        LoadCase{"SpacesInsideQuotesKept", "  \" a.example \"", {" a.example "}},
        LoadCase{"UnclosedQuoteRunsToTheEnd", "\"a.example\r\nb.example", {"a.example\r\nb.example"}},
        LoadCase{"TabsKept", "\ta.example\r\n", {"\ta.example"}},
        LoadCase{"Utf8KeptAsIs",
                 "b\xC3\xBC"
                 "cher.example\r\n",
                 {"b\xC3\xBC"
                  "cher.example"}},
        LoadCase{"PortAndPathKeptAsIs", "a.example:8080\r\n", {"a.example:8080"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AllowedDomainsTest, MissingFileIsCreatedEmptySilently) {
    LoadAllowedDomains(form);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    ASSERT_TRUE(fake.files.files.contains(path));
    EXPECT_EQ(fake.files.files[path], "");
    EXPECT_THAT(fake.toolkit.messages, IsEmpty());
}

TEST_F(AllowedDomainsTest, MissingFileThatCannotBeCreatedGoesToTheCaller) {
    fake.files.unwritable = true;
    try {
        LoadAllowedDomains(form);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::PermissionDenied);
    }
    EXPECT_FALSE(fake.files.files.contains(path));
}

// Every failure but a missing file ends the load silently, whether it comes as
// an Error or as another exception (memory running out).
class AllowedDomainsLoadFailureTest : public AllowedDomainsTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { fake.files.outOfMemory = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(ErrorOrOutOfMemory, AllowedDomainsLoadFailureTest, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "OutOfMemory" : "Error"; });

TEST_P(AllowedDomainsLoadFailureTest, FileThatCannotBeOpenedLeavesTheListEmptyAndTheFileAlone) {
    fake.files.files[path] = "a.example\r\n";
    fake.files.failOpenInput = true;
    fake.files.unwritable = true; // a wrong creation attempt would raise
    EXPECT_NO_THROW(LoadAllowedDomains(form));
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    EXPECT_EQ(fake.files.files[path], "a.example\r\n");
}

TEST_P(AllowedDomainsLoadFailureTest, ReadErrorMidFileKeepsTheNamesBeforeItAndReleasesTheFile) {
    const std::string content = "a.example\r\nb.example\r\nc.example\r\n";
    fake.files.files[path] = content;
    fake.files.failReadAfter = 15; // inside "b.example"
    EXPECT_NO_THROW(LoadAllowedDomains(form));
    EXPECT_THAT(entries(form.lstWhiteList), ElementsAre("a.example"));
    EXPECT_EQ(fake.files.openInputs, 0);
    EXPECT_EQ(fake.files.files[path], content) << "a failed read is not a missing file";
    EXPECT_THAT(fake.toolkit.messages, IsEmpty());

    SaveAllowedDomains(form);
    EXPECT_EQ(fake.files.files[path], "a.example\r\n");
}

// A file of 32,767 names or more costs a quadratic number of lookups, far too
// slow under the sanitizers; the list is filled close to the limit directly, so
// the file's last names are the ones that meet it.
TEST_F(AllowedDomainsTest, LoadStopsSilentlyAtTheListLimit) {
    const int prefilled = ListBox::MaxEntries - 5;
    for (int i = 0; i < prefilled; ++i)
        form.lstWhiteList.append("p" + std::to_string(i) + ".example");
    std::string content = "p0.example\r\n";
    for (int i = 0; i < 10; ++i)
        content += "n" + std::to_string(i) + ".example\r\np1.example\r\n";
    fake.files.files[path] = content;

    EXPECT_NO_THROW(LoadAllowedDomains(form));
    ASSERT_EQ(form.lstWhiteList.count(), ListBox::MaxEntries);
    EXPECT_EQ(form.lstWhiteList.text(prefilled), "n0.example");
    EXPECT_EQ(form.lstWhiteList.text(ListBox::MaxEntries - 1), "n4.example");
    EXPECT_EQ(fake.files.openInputs, 0);
    EXPECT_THAT(fake.toolkit.messages, IsEmpty());
}

TEST_F(AllowedDomainsTest, SaveWritesOneLinePerEntryEndedByCrLf) {
    fake.files.files[path] = "old.example\r\n";
    form.lstWhiteList.append("a.example");
    form.lstWhiteList.append("b.example");
    SaveAllowedDomains(form);
    EXPECT_EQ(fake.files.files[path], "a.example\r\nb.example\r\n");
    EXPECT_EQ(fake.files.files[path].size(), 22U);
}

TEST_F(AllowedDomainsTest, SaveOfAnEmptyListGivesAnEmptyFile) {
    fake.files.files[path] = "old.example\r\n";
    SaveAllowedDomains(form);
    EXPECT_EQ(fake.files.files[path], "");
}

TEST_F(AllowedDomainsTest, SaveThenLoadGivesTheSameList) {
    const std::vector<std::string> domains = {"z.example",
                                              "A.example",
                                              "a.example",
                                              "x.example:8080",
                                              "b\xC3\xBC"
                                              "cher.example",
                                              "trailing.example "};
    for (const auto& d : domains)
        form.lstWhiteList.append(d);
    SaveAllowedDomains(form);

    Quellit next(fake.platform);
    LoadAllowedDomains(next);
    EXPECT_THAT(entries(next.lstWhiteList), ElementsAreArray(domains));
}

TEST_F(AllowedDomainsTest, FailedSaveRaisesAndLeavesTheOldFileWhole) {
    for (const bool failOpen : {true, false}) {
        SCOPED_TRACE(failOpen ? "open fails" : "second write fails");
        fake.files.files[path] = "old.example\r\n";
        fake.files.unwritable = failOpen;
        fake.files.failWriteAfterLines = failOpen ? -1 : 1;
        form.lstWhiteList.clear();
        form.lstWhiteList.append("a.example");
        form.lstWhiteList.append("b.example");
        EXPECT_THROW(SaveAllowedDomains(form), Error);
        EXPECT_EQ(fake.files.files[path], "old.example\r\n");
    }
}

// What stops a load early; None loads the file whole.
enum class StopCause { None, ReadError, OpenFailure, ListFull };

class BackupTest : public AllowedDomainsTest, public ::testing::WithParamInterface<StopCause> {
protected:
    void loadStoppedBy(StopCause cause) {
        fake.files.failReadAfter = cause == StopCause::ReadError ? 12 : -1; // inside "b.example"
        fake.files.failOpenInput = cause == StopCause::OpenFailure;
        if (cause == StopCause::ListFull) {
            for (int i = 0; i < ListBox::MaxEntries - 1; ++i)
                form.lstWhiteList.append("p" + std::to_string(i) + ".example");
        }
        LoadAllowedDomains(form);
        fake.files.failReadAfter = -1;
        fake.files.failOpenInput = false;
    }

    const std::string backup = path + ".bak";
    const std::string original = "a.example\r\nb.example\r\n";
};

INSTANTIATE_TEST_SUITE_P(Causes, BackupTest,
                         ::testing::Values(StopCause::None, StopCause::ReadError, StopCause::OpenFailure,
                                           StopCause::ListFull));

// Exit saves and the unload saves again: the second save must not replace the
// copy with the shortened file.
TEST_P(BackupTest, FirstSaveAfterALoadThatStoppedEarlyKeepsTheFileWholeBesideIt) {
    fake.files.files[path] = original;
    fake.files.files[backup] = "older.example\r\n";
    loadStoppedBy(GetParam());
    SaveAllowedDomains(form);
    SaveAllowedDomains(form);
    const bool whole = GetParam() == StopCause::None;
    EXPECT_EQ(fake.files.files[backup], whole ? "older.example\r\n" : original);
    EXPECT_EQ(fake.files.files[path].find("b.example") != std::string::npos, whole)
        << "the save writes the list";
}

TEST_F(BackupTest, SaveThatCannotKeepTheFileRaisesAndLeavesItWhole) {
    fake.files.files[path] = original;
    loadStoppedBy(StopCause::ReadError);
    fake.files.failOpenInput = true;
    EXPECT_THROW(SaveAllowedDomains(form), Error);
    EXPECT_EQ(fake.files.files[path], original);
    EXPECT_FALSE(fake.files.files.contains(backup));

    // A file removed since the start leaves nothing to keep.
    fake.files.failOpenInput = false;
    fake.files.files.erase(path);
    SaveAllowedDomains(form);
    EXPECT_EQ(fake.files.files[path], "a.example\r\n");
    EXPECT_FALSE(fake.files.files.contains(backup));
}

} // namespace
} // namespace tavro

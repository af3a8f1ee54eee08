#include "platform/browser_status.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tavro {
namespace {

// Lines as `browsers.py list` prints them; the action is shortened.
constexpr std::string_view Listed =
    "chromium\tpackage\t/usr/bin/chromium\t-\tuser\tload it\n"
    "chrome\tpackage\t/usr/bin/google-chrome\t-\tnone\tinstall\n"
    "chromium\tsnap\t/snap/bin/chromium\t-\tunsupported\tuse the guarded one\n"
    "firefox-esr\tpackage\t/usr/bin/firefox-esr\t-\tpolicy\tnothing to do\n"
    "a line of something else\n";

std::vector<InstalledBrowser> only(std::vector<std::string> families) {
    std::vector<InstalledBrowser> kept;
    for (const InstalledBrowser& b : parseBrowserList(Listed)) {
        if (std::find(families.begin(), families.end(), b.family + "/" + b.how) != families.end())
            kept.push_back(b);
    }
    return kept;
}

struct Case {
    const char* name;
    std::vector<std::string> installed;
    std::optional<Protection> running;
    std::vector<std::vector<std::string>> rows; // Browser, Extension, Guarded profile, What to do
};

TEST(BrowserRows, MergeWhatIsInstalledWithWhatTheProgramWatches) {
    const std::vector<Case> cases{
        {"program not running",
         {"chromium/package", "firefox-esr/package"},
         std::nullopt,
         {{"Chromium", "program not running", "program not running", "load it"},
          {"Firefox ESR", "program not running", "program not running", "nothing to do"}}},
        {"one browser of each family: the profiles and the guarded profile are its own",
         {"chromium/package", "firefox-esr/package"},
         Protection{false, true, 2, 0},
         {{"Chromium", "connected, 2 profiles", "not watched", "nothing to do"},
          {"Firefox ESR", "not connected", "watched", "nothing to do"}}},
        {"two browsers of a family cannot be told apart; a snap never reaches the program",
         {"chromium/package", "chrome/package", "chromium/snap"},
         Protection{true, false, 1, 0},
         {{"Chromium", "connected in one of the Chromium family, 1 profile", "watched", "load it"},
          {"Google Chrome", "connected in one of the Chromium family, 1 profile", "-", "install"},
          {"Chromium", "cannot reach the program", "-", "use the guarded one"}}},
        {"what is watched but was not found has a line of its own",
         {"chromium/snap"},
         Protection{false, true, 1, 1},
         {{"Chromium", "cannot reach the program", "-", "use the guarded one"},
          {"Chromium family", "connected, 1 profile", "-", "nothing to do"},
          {"Firefox family", "connected, 1 profile", "watched", "nothing to do"}}},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<std::string>> got;
        for (const BrowserRow& r : browserRows(only(c.installed), c.running))
            got.push_back({r.browser, r.extension, r.guarded, r.action});
        EXPECT_EQ(got, c.rows) << c.name;
    }
}

TEST(BrowserRows, TheTableAlignsItsColumns) {
    const std::string table = formatBrowserTable(browserRows(only({"chromium/snap"}), Protection{}));
    EXPECT_EQ(table,
              "Browser   Installed as  Extension                 Guarded profile  What to do\n"
              "Chromium  snap          cannot reach the program  -                use the guarded one\n");
}

TEST(ProtectionFile, ReadsBackWhatWasWrittenAndNothingElse) {
    const Protection written{true, false, 3, 1};
    const auto read = parseProtection(protectionText(written, 4242));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->first, written);
    EXPECT_EQ(read->second, 4242);

    const std::string whole = protectionText(written, 4242);
    for (const std::string& damaged : {std::string(), whole.substr(whole.find('\n') + 1),
                                       whole.substr(0, whole.rfind("extension-firefox")), whole + "pid x\n"})
        EXPECT_FALSE(parseProtection(damaged)) << damaged;
}

} // namespace
} // namespace tavro

// The mirror of a browser's pages, fed as an adapter feeds it: the pop-up
// rule as the browser's facts arrive one by one, the page that has not
// answered yet, the page being closed, facts gone stale, a flood, and the
// news each change brings.

#include "browsers/mirror/page_mirror.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace tavro::browsers {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<const PageRecord> recordOf(PageMirror& mirror, const std::string& id) {
    for (const auto& record : mirror.snapshot()) {
        if (record->id == id)
            return record;
    }
    return nullptr;
}

// One fact as the browser tells it.
struct Fact {
    enum Kind { Opened, WindowAsked, Window, NoWindow, Gone } kind;
    std::string page;
    std::string value; // the opener of a page opened, the window named
};

struct RuleCase {
    const char* name;
    std::vector<Fact> facts;
    // What the watched page's menu bar reads after each fact: -1 unknown,
    // 0 a pop-up window, 1 a tab.
    std::vector<int> menuBar;
};

const RuleCase RuleCases[] = {
    {"PopupAloneOnceItsOpenersWindowIsNamed",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "POPUP", "USER"},
      {Fact::Window, "POPUP", "2"},
      {Fact::Window, "USER", "1"}},
     {-1, -1, -1, 0}},
    {"TabBesideItsOpener",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "TAB", "USER"},
      {Fact::Window, "USER", "1"},
      {Fact::Window, "TAB", "1"}},
     {-1, -1, -1, 1}},
    // Decided only once every window asked about is named: a neighbour not
    // yet named would make a tab look alone.
    {"TabWhoseNeighbourIsStillBeingAsked",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "OTHER", ""},
      {Fact::Opened, "TAB", "USER"},
      {Fact::WindowAsked, "OTHER", ""},
      {Fact::Window, "USER", "3"},
      {Fact::Window, "TAB", "1"},
      {Fact::Window, "OTHER", "1"}},
     {-1, -1, -1, -1, -1, -1, 1}},
    // A page the browser will not name does not hold up the pop-ups beside it.
    {"PopupBesideAPageNeverNamed",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "PANEL", ""},
      {Fact::Opened, "POPUP", "USER"},
      {Fact::WindowAsked, "PANEL", ""},
      {Fact::NoWindow, "PANEL", ""},
      {Fact::Window, "USER", "1"},
      {Fact::Window, "POPUP", "2"}},
     {-1, -1, -1, -1, -1, -1, 0}},
    // An opener the browser will not name may be the page's neighbour.
    {"OpenerNeverNamed",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "TAB", "USER"},
      {Fact::NoWindow, "USER", ""},
      {Fact::Window, "TAB", "1"}},
     {-1, -1, -1, -1}},
    // An opener already gone leaves nothing to wait for.
    {"PopupWhoseOpenerHasGone",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "POPUP", "USER"},
      {Fact::Gone, "USER", ""},
      {Fact::Window, "POPUP", "2"}},
     {-1, -1, -1, 0}},
    // Decided for the page's life, whatever comes after.
    {"DecidedOnce",
     {{Fact::Opened, "USER", ""},
      {Fact::Opened, "POPUP", "USER"},
      {Fact::Window, "USER", "1"},
      {Fact::Window, "POPUP", "2"},
      {Fact::Opened, "LATER", ""},
      {Fact::Window, "LATER", "2"}},
     {-1, -1, -1, 0, 0, 0}},
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.name;
}

class PopupRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PopupRule, DecidesAsTheFactsArrive) {
    const RuleCase& c = GetParam();
    PageMirror mirror;
    mirror.startOver();
    // The page a script opened.
    const std::string watched = std::find_if(c.facts.begin(), c.facts.end(), [](const Fact& f) {
                                    return f.kind == Fact::Opened && !f.value.empty();
                                })->page;
    for (std::size_t i = 0; i < c.facts.size(); ++i) {
        SCOPED_TRACE("after fact " + std::to_string(i));
        const Fact& fact = c.facts[i];
        switch (fact.kind) {
        case Fact::Opened:
            mirror.pageOpened(fact.page, "http://" + fact.page + ".example/", fact.value);
            break;
        case Fact::WindowAsked:
            mirror.windowAsked(fact.page);
            break;
        case Fact::Window:
            mirror.windowNamed(fact.page, fact.value);
            break;
        case Fact::NoWindow:
            mirror.windowNamed(fact.page, std::nullopt);
            break;
        case Fact::Gone:
            mirror.pageGone(fact.page);
            break;
        }
        const auto record = recordOf(mirror, watched);
        if (record == nullptr && c.menuBar[i] == -1)
            continue; // not told of yet
        ASSERT_NE(record, nullptr);
        const int menuBar = record->menuBar ? (*record->menuBar ? 1 : 0) : -1;
        EXPECT_EQ(menuBar, c.menuBar[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Facts, PopupRule, ::testing::ValuesIn(RuleCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A page whose answer is on its way is not a pop-up yet; one that had its
// time and gave none (alert(), an endless script) is judged without it, and
// either way the change is news.
TEST(PageMirror, APageIsHeldUntilItAnswersOrItsTimeIsUp) {
    PageMirror mirror(std::make_shared<MirrorNews>(), 50ms);
    mirror.startOver();
    mirror.pageOpened("USER", "http://site.example/", "");
    mirror.pageOpened("POPUP", "http://ads.example/", "USER");
    mirror.reachesOpener("POPUP", true);
    mirror.probeAsked("POPUP", "http://ads.example/");
    mirror.news().takeNews();

    EXPECT_FALSE(recordOf(mirror, "POPUP")->opener) << "its answer is on its way";
    EXPECT_FALSE(mirror.expireProbes(MirrorClock::now()) == std::nullopt);
    EXPECT_FALSE(mirror.news().takeNews());

    mirror.expireProbes(MirrorClock::now() + 60ms);
    EXPECT_TRUE(mirror.news().takeNews());
    auto record = recordOf(mirror, "POPUP");
    EXPECT_TRUE(record->opener);
    EXPECT_FALSE(record->html.has_value()) << "it never said what it shows";

    // An answer about an address the page has left is no answer.
    mirror.addressChanged("POPUP", "http://ads.example/next");
    mirror.probeAsked("POPUP", "http://ads.example/next");
    mirror.probeAnswered("POPUP", "http://ads.example/", false);
    EXPECT_FALSE(recordOf(mirror, "POPUP")->opener);
    mirror.probeAnswered("POPUP", "http://ads.example/next", false);
    record = recordOf(mirror, "POPUP");
    EXPECT_TRUE(record->opener);
    EXPECT_EQ(record->html, false);
}

// The opener's word that a pop-up reaches it makes the pop-up judgeable
// while its own probe is still out, as the HTML page it almost always is; its
// answer, when it comes, rules. A page no script opened has no opener to vouch.
TEST(PageMirror, AnOpenersWordStandsUntilThePageAnswersItself) {
    PageMirror mirror;
    mirror.startOver();
    mirror.pageOpened("USER", "http://site.example/", "");
    mirror.windowNamed("USER", "1");
    mirror.appeared("POPUP", "http://ads.example/", "USER", true, "2");
    mirror.appeared("TYPED", "http://typed.example/", "", true, "3");
    mirror.openerVouched("POPUP");
    mirror.openerVouched("TYPED");
    mirror.news().takeNews();
    auto record = recordOf(mirror, "POPUP");
    EXPECT_TRUE(record->opener);
    EXPECT_EQ(record->html, true);
    EXPECT_EQ(record->menuBar, false);
    EXPECT_FALSE(recordOf(mirror, "TYPED")->opener);

    mirror.probeAnswered("POPUP", "http://ads.example/", false, false);
    record = recordOf(mirror, "POPUP");
    EXPECT_FALSE(record->opener);
    EXPECT_EQ(record->html, false);
}

TEST(PageMirror, APageAskedToCloseIsPassedOverForAMoment) {
    PageMirror mirror;
    mirror.startOver();
    mirror.pageOpened("POPUP", "http://ads.example/", "USER");
    mirror.closeAsked("POPUP");
    EXPECT_EQ(recordOf(mirror, "POPUP"), nullptr);
    std::this_thread::sleep_for(PageMirror::ClosingGrace + 50ms);
    EXPECT_NE(recordOf(mirror, "POPUP"), nullptr) << "a page the browser kept is found again";
}

TEST(PageMirror, NothingIsHandedOutOnFactsGoneStaleOrAfterTheBrowserWent) {
    PageMirror mirror;
    mirror.startOver();
    mirror.pageOpened("POPUP", "http://ads.example/", "USER");
    mirror.heardAt(MirrorClock::now() - PageMirror::FreshFor - 1s);
    EXPECT_TRUE(mirror.snapshot().empty());
    mirror.heardAt(MirrorClock::now());
    EXPECT_EQ(mirror.snapshot().size(), 1U);
    mirror.lost();
    EXPECT_TRUE(mirror.snapshot().empty());
    EXPECT_FALSE(mirror.connected());
}

TEST(PageMirror, MorePagesThanABrowserHasIsAFlood) {
    PageMirror mirror;
    mirror.startOver();
    for (std::size_t i = 0; i <= PageMirror::MaxPages; ++i)
        mirror.pageOpened("P" + std::to_string(i), "http://site.example/", "");
    EXPECT_TRUE(mirror.flooded());
    EXPECT_EQ(mirror.snapshot().size(), PageMirror::MaxPages);
    mirror.startOver();
    EXPECT_FALSE(mirror.flooded());
}

// Only what a scan could act on is news: a page a script opened, with a
// domain to judge.
TEST(PageMirror, NewsIsAChangeToAPageAScriptOpenedWithADomain) {
    struct Row {
        const char* url;
        const char* opener;
        bool news;
    };
    const Row rows[] = {
        {"http://ads.example/", "USER", true},
        {"about:blank", "USER", false},
        {"http://site.example/", "", false},
    };
    for (const Row& row : rows) {
        PageMirror mirror;
        mirror.startOver();
        mirror.news().takeNews();
        mirror.pageOpened("P", row.url, row.opener);
        mirror.windowNamed("P", "1");
        EXPECT_EQ(mirror.news().takeNews(), row.news) << row.url << " opened by '" << row.opener << "'";
    }
}

// A held page's request waits on the verdict, whatever fact of it comes last.
TEST(PageMirror, NewsOfAHeldPageIsToldAsWaiting) {
    PageMirror mirror;
    mirror.startOver();
    mirror.pageOpened("P", "", "USER");
    mirror.held("P", "http://ads.example/");
    EXPECT_TRUE(mirror.news().takeWaiting());
    mirror.windowNamed("P", "1");
    EXPECT_TRUE(mirror.news().takeWaiting()) << "the window named after the hold came as other news";
}

TEST(DocumentKind, HtmlTextImagesAndMediaCountSvgAndXmlDoNot) {
    struct Row {
        const char* mime;
        bool html;
    };
    const Row rows[] = {
        {"text/html", true},
        {"TEXT/HTML; charset=utf-8", true},
        {"text/plain", true},
        {"image/png", true},
        {"video/mp4", true},
        {"application/pdf", true},
        {"image/svg+xml", false},
        {"text/xml", false},
        {"application/xml", false},
        {"application/rss+xml", false},
        {"application/xhtml+xml", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(isHtmlMimeType(row.mime), row.html) << row.mime;
}

} // namespace
} // namespace tavro::browsers

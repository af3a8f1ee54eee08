#include "form/quellit.h"
#include "help/update_check.h"
#include "platform/curl/curl_http_fetch.h"
#include "tests/fakes/fake_platform.h"
#include "tests/help/update_http_server.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tavro {
namespace {

using fakes::LocalHttpServer;
using fakes::OpenedBrowser;
using testing::HasSubstr;

const std::string Current = "Your current version is 2.7 There are currently no updates available";
const std::string Failure = "Error Opening URL, please make sure your connected to Internet";

// The real handler over the real HTTP fetch, against a server on loopback;
// only the message boxes and the browser are fakes.
class UpdateCheck : public testing::Test {
protected:
    void press(std::string_view server) { Command2_Click(form, server); }
    void pressWithVersion(std::string rawAnswer) {
        http.script("/version.txt", std::move(rawAnswer));
        press(http.address());
    }

    std::vector<MessageBoxRequest>& messages() { return fake.toolkit.messages; }
    std::vector<OpenedBrowser>& opened() { return fake.browser.opened; }

    LocalHttpServer http;
    fakes::FakePlatform fake;
    // Long enough for any loopback answer, short enough for the test that waits for it.
    CurlHttpFetch fetch{std::chrono::milliseconds(1500)};
    Platform platform{fake.toolkit,    fake.browser,    fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fetch,     fake.files};
    Quellit form{platform};
};

enum class Outcome { SaysCurrent, OpensUpgrade, Fails };

struct BodyRow {
    const char* name;
    std::string body;
    Outcome outcome;
    const char* title; // the failure message's title
};

void PrintTo(const BodyRow& row, std::ostream* os) {
    *os << row.name;
}

class UpdateCheckBody : public UpdateCheck, public testing::WithParamInterface<BodyRow> {};

TEST_P(UpdateCheckBody, ShowsTheMessageOrOpensTheUpgradePage) {
    const BodyRow& row = GetParam();
    pressWithVersion(LocalHttpServer::answer(200, row.body));

    EXPECT_EQ(http.requests(), std::vector<std::string>{"GET /version.txt HTTP/1.1"});
    switch (row.outcome) {
    case Outcome::SaysCurrent:
        EXPECT_EQ(messages(), (std::vector<MessageBoxRequest>{
                                  {Current, MessageButtons::Ok, MessageIcon::None, "Tavro Popup Blocker"}}));
        EXPECT_TRUE(opened().empty());
        break;
    case Outcome::OpensUpgrade:
        EXPECT_TRUE(messages().empty());
        ASSERT_EQ(opened().size(), 1u);
        EXPECT_EQ(opened()[0].url, http.address() + "/upgrade.html");
        EXPECT_TRUE(opened()[0].visible);
        break;
    case Outcome::Fails:
        EXPECT_EQ(messages(), (std::vector<MessageBoxRequest>{
                                  {Failure, MessageButtons::Ok, MessageIcon::Critical, row.title}}));
        EXPECT_TRUE(opened().empty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, UpdateCheckBody,
    testing::Values(BodyRow{"Same", "27", Outcome::SaysCurrent, ""},
                    BodyRow{"Newer", "28", Outcome::OpensUpgrade, ""},
                    BodyRow{"Older", "26", Outcome::OpensUpgrade, ""},
                    BodyRow{"LineBreakAfter", "27\n", Outcome::SaysCurrent, ""},
                    BodyRow{"WindowsLineBreak", "27\r\n", Outcome::SaysCurrent, ""},
                    BodyRow{"Blanks", " 27 ", Outcome::SaysCurrent, ""},
                    BodyRow{"FractionDown", "27.4", Outcome::SaysCurrent, ""},
                    BodyRow{"HalfToEvenUp", "27.5", Outcome::OpensUpgrade, ""},
                    BodyRow{"HalfToEvenDown", "26.5", Outcome::OpensUpgrade, ""},
                    BodyRow{"Empty", "", Outcome::Fails, "Type mismatch"},
                    BodyRow{"Letters", "abc", Outcome::Fails, "Type mismatch"},
                    BodyRow{"HtmlPage", "<html><body><h1>Service Unavailable</h1></body></html>",
                            Outcome::Fails, "Type mismatch"},
                    BodyRow{"OutOfRange", "40000", Outcome::Fails, "Overflow"},
                    BodyRow{"LowestInRange", "-32768", Outcome::OpensUpgrade, ""}),
    [](const testing::TestParamInfo<BodyRow>& param) { return std::string(param.param.name); });

// The upgrade page lies on the update server, with exactly one "/" however the
// address was configured.
TEST_F(UpdateCheck, UpgradePageOnTheConfiguredServer) {
    http.script("/version.txt", LocalHttpServer::answer(200, "28"));
    press(http.address() + "/");
    ASSERT_EQ(opened().size(), 1u);
    EXPECT_EQ(opened()[0].url, http.address() + "/upgrade.html");
    EXPECT_EQ(http.requests(), std::vector<std::string>{"GET /version.txt HTTP/1.1"});
}

TEST_F(UpdateCheck, EachPressOpensItsOwnWindow) {
    http.script("/version.txt", LocalHttpServer::answer(200, "28"));
    press(http.address());
    press(http.address());
    EXPECT_EQ(http.requests().size(), 2u);
    ASSERT_EQ(opened().size(), 2u);
    for (const OpenedBrowser& window : opened()) {
        EXPECT_EQ(window.url, http.address() + "/upgrade.html");
        EXPECT_TRUE(window.visible);
    }
    EXPECT_TRUE(messages().empty());
}

// An error status fails the check even when its body reads as a version.
TEST_F(UpdateCheck, ErrorStatusFailsWhateverItsBody) {
    for (const int status : {404, 500}) {
        messages().clear();
        pressWithVersion(LocalHttpServer::answer(status, "28"));
        ASSERT_EQ(messages().size(), 1u) << status;
        EXPECT_EQ(messages()[0].text, Failure);
        EXPECT_EQ(messages()[0].icon, MessageIcon::Critical);
        EXPECT_THAT(messages()[0].title, HasSubstr(std::to_string(status)));
    }
    EXPECT_TRUE(opened().empty());
}

TEST_F(UpdateCheck, FollowsARedirect) {
    http.script("/version.txt", LocalHttpServer::answer(302, "", "Location: /moved/version.txt\r\n"));
    http.script("/moved/version.txt", LocalHttpServer::answer(200, "27"));
    press(http.address());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Current);
    EXPECT_EQ(http.requests().size(), 2u);
}

TEST_F(UpdateCheck, EndlessRedirectsFail) {
    http.script("/version.txt", LocalHttpServer::answer(302, "", "Location: /version.txt\r\n"));
    press(http.address());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Failure);
    EXPECT_EQ(http.requests().size(), static_cast<std::size_t>(CurlHttpFetch::MaxRedirects + 1));
}

// A redirect must not lead the fetch off the web to a local file.
TEST_F(UpdateCheck, RedirectToAFileFails) {
    http.script("/version.txt", LocalHttpServer::answer(302, "", "Location: file:///etc/hostname\r\n"));
    press(http.address());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Failure);
    EXPECT_TRUE(opened().empty());
}

// Too large, whether the server announces the length or just keeps sending.
TEST_F(UpdateCheck, BodyOverTheLimitFails) {
    const std::string limit(CurlHttpFetch::MaxBodyBytes, ' ');
    for (const std::string& raw :
         {LocalHttpServer::answer(200, limit + "27"), LocalHttpServer::answerUntilClose(limit + "27")}) {
        messages().clear();
        pressWithVersion(raw);
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0].text, Failure);
        EXPECT_EQ(messages()[0].title, "The answer is larger than 65536 bytes");
    }
    EXPECT_TRUE(opened().empty());
}

// Exactly at the limit is still an answer: blanks around the number are ignored.
TEST_F(UpdateCheck, BodyAtTheLimitIsRead) {
    const std::string padding(CurlHttpFetch::MaxBodyBytes - 2, ' ');
    pressWithVersion(LocalHttpServer::answerUntilClose(padding + "27"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Current);
}

TEST_F(UpdateCheck, RefusedConnectionFails) {
    const fakes::RefusingPort refusing;
    press(refusing.address());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Failure);
    EXPECT_EQ(messages()[0].icon, MessageIcon::Critical);
    EXPECT_THAT(messages()[0].title, HasSubstr("Couldn't connect to server"));
    EXPECT_TRUE(opened().empty());
}

TEST_F(UpdateCheck, SilentServerTimesOut) {
    http.silent("/version.txt");
    press(http.address());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, Failure);
    EXPECT_THAT(messages()[0].title, HasSubstr("timed out"));
    EXPECT_EQ(http.requests().size(), 1u);
}

TEST_F(UpdateCheck, BrowserFailuresShowTheFailureMessage) {
    http.script("/version.txt", LocalHttpServer::answer(200, "28"));
    fake.browser.failNewBrowser = true;
    press(http.address());
    fake.browser.failNewBrowser = false;
    fake.browser.failNavigate = true;
    press(http.address());
    EXPECT_EQ(messages(), (std::vector<MessageBoxRequest>{
                              {Failure, MessageButtons::Ok, MessageIcon::Critical,
                               "ActiveX component can't create object"},
                              {Failure, MessageButtons::Ok, MessageIcon::Critical, "Automation error"}}));
    EXPECT_TRUE(opened().empty());
}

} // namespace
} // namespace tavro

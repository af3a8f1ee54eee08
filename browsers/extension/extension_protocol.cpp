#include "browsers/extension/extension_protocol.h"

#include "browsers/mirror/page_model.h"
#include "browsers/wire/json_message.h"

#include <algorithm>

namespace tavro::extension {

using wire::stringField;

namespace {

// How soon a page that could not be asked is asked again.
constexpr std::chrono::milliseconds RetryAfter{50};
// The first version of the messages that answers a ping, and the first that
// holds a new tab's first request.
constexpr int PingSince = 2;
constexpr int HoldSince = 3;

// The browser's number for a tab or window, as the mirror names it; empty
// when the member is missing or not a whole number.
std::string numberOf(const Json& message, const char* name) {
    const auto it = message.find(name);
    return it != message.end() && it->is_number_integer() ? std::to_string(it->get<long long>())
                                                          : std::string();
}

std::optional<std::string> windowOf(const Json& message) {
    std::string window = numberOf(message, "window");
    return window.empty() ? std::nullopt : std::optional<std::string>(std::move(window));
}

Json tabNumber(const std::string& tab) {
    return std::stoll(tab);
}

// What the mirror is told opened a pop-up window whose opener the extension
// never named: no tab has this number.
const std::string UnnamedOpener = "unnamed";
// How long a pop-up window whose opener was never named is asked about
// itself while it cannot answer yet: it is judged only on its answer, which a
// browser still busy starting up gives seconds late.
constexpr std::chrono::milliseconds UnnamedAnswerTime{10000};

} // namespace

bool ExtensionChannel::execute(std::function<void()> work) {
    if (!m_open)
        return false;
    m_socket.execute(std::move(work));
    return true;
}

Json ExtensionChannel::compose(long id, const std::string& method, const Json& params,
                               const std::string&) const {
    Json message = params.is_object() ? params : Json::object();
    message["type"] = method;
    message["id"] = id;
    return message;
}

void ExtensionChannel::write(std::string text) {
    m_socket.sendText(m_connection, text);
}

void ExtensionProtocol::start(Channel& c, PageMirror& mirror) {
    m_mirror = &mirror;
    m_stage = Stage::Starting;
    m_openers.clear();
    m_retries.clear();
    m_held.clear();
    m_judgingTold.reset();
    c.onEvent = [this, &c](const Json& message) { hear(c, message); };
}

void ExtensionProtocol::hear(Channel& c, const Json& message) {
    PageMirror& mirror = *m_mirror;
    const std::string type = stringField(message, "type");
    const std::string tab = numberOf(message, "tab");
    if (type == "hello") {
        const auto version = message.find("protocol");
        m_version = version != message.end() && version->is_number_integer() ? version->get<int>() : 0;
        const std::string browser = stringField(message, "browser");
        m_family = browser == "chromium" || browser == "firefox" ? browser : std::string();
    } else if (type == "tabs") {
        // The whole state, after every connection and any gap.
        mirror.startOver();
        m_openers.clear();
        m_retries.clear();
        m_held.clear();
        m_stage = Stage::Serving;
        judging(c);
        const auto tabs = message.find("tabs");
        if (tabs != message.end() && tabs->is_array()) {
            for (const Json& page : *tabs) {
                if (page.is_object())
                    appeared(c, page);
            }
        }
    } else if (m_stage != Stage::Serving) {
        return;
    } else if (type == "held") {
        held(c, message);
    } else if (m_held.contains(tab) && (type == "opened" || type == "created")) {
        // Told of already, with its request: only its source is news.
        if (const std::string source = numberOf(message, "sourceTab"); !source.empty())
            m_openers[tab] = source;
    } else if (type == "opened" || type == "created") {
        if (type == "opened")
            forgetUnsourced(tab);
        appeared(c, message);
    } else if (type == "address" && !tab.empty()) {
        const std::string url = stringField(message, "url");
        const bool probes = m_openers.contains(tab) && mirror.address(tab).value_or(url) != url;
        mirror.navigated(tab, url, probes);
        if (probes)
            probe(c, tab, url, answerDue(m_openers.at(tab).empty()));
    } else if (type == "moved" && !tab.empty()) {
        mirror.windowNamed(tab, windowOf(message));
    } else if (type == "gone" && !tab.empty()) {
        m_openers.erase(tab);
        m_held.erase(tab);
        std::erase_if(m_retries, [&](const Retry& retry) { return retry.tab == tab; });
        mirror.pageGone(tab);
    } else if (type == "ctrl") {
        const auto down = message.find("down");
        m_ctrl(down != message.end() && down->is_boolean() && down->get<bool>());
    }
}

void ExtensionProtocol::appeared(Channel& c, const Json& page) {
    const std::string tab = numberOf(page, "tab");
    if (tab.empty())
        return;
    const std::string url = stringField(page, "url");
    const std::string source = numberOf(page, "sourceTab");
    // Whether the page can still reach its opener is the page's own to say: a
    // page opened by the user, or with noopener, names its source all the same.
    // A pop-up window opened before the extension listened, as a page shown at
    // the browser's start opens it, comes without its source, in the whole
    // state or told of as any new tab; no window of that type is one the user
    // opened. It is probed like a page opened by script, and only its own
    // answer makes it one that reaches its opener: nothing is closed on a guess.
    const bool unnamed = source.empty() && stringField(page, "windowType") == "popup";
    const bool probes = !source.empty() || unnamed;
    if (probes)
        m_openers[tab] = source;
    m_mirror->appeared(tab, url, unnamed ? UnnamedOpener : source, probes, windowOf(page));
    if (unnamed)
        m_mirror->reachesOpener(tab, false);
    // The opener's word lets the program judge the tab before its first
    // document arrives; its probe still follows, and its answer rules.
    if (const auto opener = page.find("opener");
        !source.empty() && opener != page.end() && opener->is_boolean() && opener->get<bool>())
        m_mirror->openerVouched(tab);
    if (probes)
        probe(c, tab, url, answerDue(unnamed));
}

// A new tab another page opened, its first request held: it is judged by
// that request's address once it has said that it can reach its opener; a
// tab that cannot, or could not say, is let go at once, and one whose window
// the mirror would wait for is let go by the turn when its time is up.
void ExtensionProtocol::held(Channel& c, const Json& message) {
    const std::string tab = numberOf(message, "tab");
    const auto number = message.find("hold");
    if (tab.empty() || number == message.end() || !number->is_number_integer())
        return;
    const long hold = number->get<long>();
    const auto opener = message.find("opener");
    const std::string url = stringField(message, "url");
    if (opener == message.end() || !opener->is_boolean() || !opener->get<bool>() || url.empty() ||
        !m_mirror->news().judged()) {
        c.post("release", {{"hold", hold}});
        return;
    }
    std::string source = numberOf(message, "sourceTab");
    if (!source.empty())
        forgetUnsourced(tab);
    m_openers[tab] = source;
    if (!m_mirror->knows(tab))
        m_mirror->appeared(tab, url, source.empty() ? UnnamedOpener : source, false, windowOf(message));
    else
        m_mirror->windowNamed(tab, windowOf(message));
    m_mirror->reachesOpener(tab, true);
    m_held[tab] = Hold{hold, Clock::now()};
    m_mirror->held(tab, url);
}

// A source told after its tab, as Firefox tells of a new tab before the page
// that opened it: the tab is forgotten, to be told of again with it.
void ExtensionProtocol::forgetUnsourced(const std::string& tab) {
    const auto told = m_openers.find(tab);
    if (!tab.empty() && m_mirror->knows(tab) && (told == m_openers.end() || told->second.empty()))
        m_mirror->pageGone(tab);
}

void ExtensionProtocol::release(Channel& c, const std::string& page) {
    const auto hold = m_held.find(page);
    if (hold == m_held.end())
        return;
    c.post("release", {{"hold", hold->second.number}});
    m_mirror->released(page);
    m_held.erase(hold);
}

void ExtensionProtocol::releaseAll(Channel& c) {
    while (!m_held.empty())
        release(c, m_held.begin()->first);
}

// The extension holds nothing for a program that does not judge; it lets go
// by itself of what it holds when the connection ends.
void ExtensionProtocol::judging(Channel& c) {
    const bool on = m_mirror->news().judged();
    if (m_version < HoldSince || m_judgingTold == on)
        return;
    m_judgingTold = on;
    c.post("judging", {{"on", on}});
}

bool ExtensionProtocol::finish(Channel& c) {
    releaseAll(c);
    return true;
}

Clock::time_point ExtensionProtocol::answerDue(bool unnamed) {
    return Clock::now() + (unnamed ? UnnamedAnswerTime : AnswerTime);
}

void ExtensionProtocol::probe(Channel& c, const std::string& tab, const std::string& url,
                              Clock::time_point until) {
    c.send("probe", {{"tab", tabNumber(tab)}}, {},
           [this, tab, url, until](const Json& answer) { answered(tab, url, until, answer); });
}

// A page that could not be asked (a pop-up with no document yet, or still
// its empty one, a privileged page, one in alert()) is asked again shortly,
// until its time is up; it then counts as one that cannot answer.
void ExtensionProtocol::answered(const std::string& tab, const std::string& url, Clock::time_point until,
                                 const Json& answer) {
    const auto opener = answer.find("opener");
    const auto contentType = answer.find("contentType");
    // A new pop-up may still answer from the empty document it starts with:
    // that is not the document at the address it was asked about.
    const auto answeredAt = answer.find("url");
    if (opener == answer.end() || !opener->is_boolean() || contentType == answer.end() ||
        !contentType->is_string() ||
        (answeredAt != answer.end() && answeredAt->is_string() && *answeredAt != url)) {
        if (m_openers.contains(tab))
            m_retries.push_back({tab, url, until, Clock::now() + RetryAfter});
        return;
    }
    m_mirror->probeAnswered(tab, url, browsers::isHtmlMimeType(contentType->get<std::string>()),
                            opener->get<bool>());
}

// A question is asked again when it is due, not at the next round after: a
// pop-up waits for that answer before it can be closed.
std::optional<Clock::time_point> ExtensionProtocol::turn(Channel& c, Clock::time_point now) {
    std::vector<Retry> due;
    std::optional<Clock::time_point> next;
    if (m_stage == Stage::Serving)
        judging(c);
    // A verdict that has not come in time is not waited for.
    std::vector<std::string> overdue;
    for (const auto& [page, hold] : m_held) {
        const auto until = hold.since + browsers::HoldFor;
        if (until <= now)
            overdue.push_back(page);
        else
            next = next ? std::min(*next, until) : until;
    }
    for (const std::string& page : overdue)
        release(c, page);
    std::erase_if(m_retries, [&](Retry& retry) {
        if (retry.due > now) {
            next = next ? std::min(*next, retry.due) : retry.due;
            return false;
        }
        if (now < retry.until)
            due.push_back(std::move(retry));
        return true;
    });
    for (const Retry& retry : due)
        probe(c, retry.tab, retry.url, retry.until);
    return next;
}

// An extension of the first version knows no ping; its host's connection
// is all there is to know, and it ends with the browser.
bool ExtensionProtocol::keepAlive(Channel& c) {
    if (m_version < PingSince)
        return false;
    c.send("ping", Json::object(), {}, [](const Json&) {});
    return true;
}

// A held tab closed never sends its request.
void ExtensionProtocol::close(Channel& c, const std::string& page) {
    m_held.erase(page);
    c.post("close", {{"tab", tabNumber(page)}});
}

void ExtensionProtocol::open(Channel& c, const std::string& url) {
    c.post("open", {{"url", url}});
}

} // namespace tavro::extension

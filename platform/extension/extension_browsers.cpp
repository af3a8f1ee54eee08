#include "platform/extension/extension_browsers.h"

#include "platform/browsers/browser_set.h"
#include "platform/browsers/page_model.h"
#include "platform/error.h"
#include "platform/websocket/json_message.h"

#include <algorithm>

namespace tavro::extension {

using browsers::MirrorClock;
using browsers::PageMirror;
using websocket::stringField;

// A question to a page: its tab, the address asked at, and when the page
// was first asked at it.
struct ExtensionBrowsers::Question {
    std::string tab;
    std::string url;
    MirrorClock::time_point firstAsked;
};

// What the program keeps of one connected profile. The mirror is read by the
// walk; the rest is touched by the socket's thread alone.
struct ExtensionBrowsers::Profile {
    ConnectionId connection = 0;
    std::shared_ptr<PageMirror> mirror;
    // The tabs another page opened, with that page: only they are asked
    // about themselves.
    std::map<std::string, std::string> openers;
    // The questions out, by their number; guarded by the browsers' lock.
    std::map<long, Question> questions;
    long nextQuestion = 1;
};

// A page that could not be asked yet, asked again shortly.
struct ExtensionBrowsers::Retry {
    std::shared_ptr<Profile> profile;
    std::string tab;
    std::string url;
    MirrorClock::time_point firstAsked;
    MirrorClock::time_point due;
};

namespace {

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

// The request goes to the profile's extension and is not waited for.
class TabCloser final : public browsers::PageCloser {
public:
    TabCloser(ExtensionSocket& socket, std::shared_ptr<ExtensionBrowsers::Profile> profile)
        : m_socket(socket), m_profile(std::move(profile)) {}
    void close(const browsers::PageRecord& page) override {
        if (!m_socket.send(m_profile->connection, {{"type", "close"}, {"tab", tabNumber(page.id)}}))
            throw Error(errc::AutomationError, "The browser has gone");
        m_profile->mirror->closeAsked(page.id);
    }

private:
    ExtensionSocket& m_socket;
    std::shared_ptr<ExtensionBrowsers::Profile> m_profile;
};

class ProfileNewBrowser final : public NewBrowser {
public:
    ProfileNewBrowser(ExtensionSocket& socket, ConnectionId connection)
        : m_socket(socket), m_connection(connection) {}
    void Navigate2(const std::string& url) override {
        if (!m_socket.send(m_connection, {{"type", "open"}, {"url", url}}))
            throw Error(errc::AutomationError, "The browser has gone");
    }
    void setVisible(bool) override {}

private:
    ExtensionSocket& m_socket;
    ConnectionId m_connection;
};

// Every connected profile's pages, one profile after the other.
class ProfilePages final : public ShellWindows {
public:
    ProfilePages(ExtensionSocket& socket,
                 std::function<std::vector<std::shared_ptr<ExtensionBrowsers::Profile>>()> profiles)
        : m_socket(socket), m_profiles(std::move(profiles)) {}

    std::unique_ptr<WindowWalk> walk() override {
        std::vector<std::unique_ptr<WindowWalk>> walks;
        for (const auto& profile : m_profiles()) {
            if (profile->mirror->connected())
                walks.push_back(browsers::walkOver(profile->mirror->snapshot(),
                                                   std::make_shared<TabCloser>(m_socket, profile)));
        }
        if (walks.empty())
            throw Error(errc::AutomationError, "No browser extension has reached the program");
        return browsers::chainWalks(std::move(walks));
    }

private:
    ExtensionSocket& m_socket;
    std::function<std::vector<std::shared_ptr<ExtensionBrowsers::Profile>>()> m_profiles;
};

} // namespace

ExtensionBrowsers::ExtensionBrowsers(const std::string& socketPath, ExtensionSocketLimits limits) {
    m_clock = std::thread([this] { keepTime(); });
    try {
        m_socket = std::make_unique<ExtensionSocket>(
            socketPath,
            ExtensionSocketEvents{[this](ConnectionId id) { connected(id); },
                                  [this](ConnectionId id, Json message) { heard(id, message); },
                                  [this](ConnectionId id) { closed(id); }},
            limits);
        m_ready = m_socket.get();
    } catch (...) {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_clock.join();
        throw;
    }
}

ExtensionBrowsers::~ExtensionBrowsers() {
    m_ready = nullptr;
    m_socket.reset();
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_clock.join();
}

// The extension speaks only when something happens; a profile whose host is
// connected is there, and its mirror is as fresh as the connection. The
// questions a page did not answer in time are settled here. A question is
// asked again when it is due, not at the next round after: a pop-up waits
// for that answer before it can be closed.
void ExtensionBrowsers::keepTime() {
    std::unique_lock lock(m_mutex);
    auto next = MirrorClock::now();
    while (true) {
        m_wake.wait_until(lock, next, [this] { return m_stopping || m_changed; });
        if (m_stopping)
            return;
        m_changed = false;
        const auto now = MirrorClock::now();
        next = now + Quiet;
        for (const auto& [id, profile] : m_profiles) {
            profile->mirror->heardAt(now);
            if (const auto due = profile->mirror->expireQuestions(now))
                next = std::min(next, *due);
        }
        std::vector<Retry> due;
        std::erase_if(m_retries, [&](Retry& retry) {
            if (retry.due > now) {
                next = std::min(next, retry.due);
                return false;
            }
            if (now - retry.firstAsked < AnswerTime)
                due.push_back(std::move(retry));
            return true;
        });
        lock.unlock();
        for (Retry& retry : due)
            send(*retry.profile, retry.tab, retry.url, retry.firstAsked);
        lock.lock();
    }
}

std::shared_ptr<ExtensionBrowsers::Profile> ExtensionBrowsers::profile(ConnectionId id) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_profiles.find(id);
    return it == m_profiles.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<PageMirror>> ExtensionBrowsers::mirrors() const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<PageMirror>> all;
    for (const auto& [id, profile] : m_profiles)
        all.push_back(profile->mirror);
    return all;
}

void ExtensionBrowsers::connected(ConnectionId id) {
    auto profile = std::make_shared<Profile>();
    profile->connection = id;
    profile->mirror = std::make_shared<PageMirror>(m_news, AnswerTime);
    const std::lock_guard lock(m_mutex);
    m_profiles.emplace(id, std::move(profile));
}

void ExtensionBrowsers::closed(ConnectionId id) {
    std::shared_ptr<Profile> gone;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_profiles.find(id);
        if (it == m_profiles.end())
            return;
        gone = std::move(it->second);
        m_profiles.erase(it);
    }
    gone->mirror->lost();
    m_ctrl = false;
}

void ExtensionBrowsers::heard(ConnectionId id, const Json& message) {
    const std::shared_ptr<Profile> from = profile(id);
    if (!from)
        return;
    PageMirror& mirror = *from->mirror;
    const std::string type = stringField(message, "type");
    const std::string tab = numberOf(message, "tab");
    if (type == "tabs") {
        // The whole state, after every connection and any gap.
        mirror.startOver();
        from->openers.clear();
        const auto tabs = message.find("tabs");
        if (tabs != message.end() && tabs->is_array()) {
            for (const Json& page : *tabs) {
                if (page.is_object())
                    appeared(*from, page);
            }
        }
    } else if (type == "opened" || type == "created") {
        // A source told after its tab: the tab is told of again, with it.
        if (type == "opened" && !tab.empty() && mirror.knows(tab) && !from->openers.contains(tab))
            mirror.pageGone(tab);
        appeared(*from, message);
    } else if (type == "address" && !tab.empty()) {
        const std::string url = stringField(message, "url");
        // The question is marked first (see appeared()): between the change
        // and the question the page would be judged on its last document.
        const bool ask = from->openers.contains(tab) && mirror.address(tab).value_or(url) != url;
        if (ask)
            mirror.kindAsked(tab, url);
        mirror.addressChanged(tab, url);
        if (ask)
            send(*from, tab, url, MirrorClock::now());
    } else if (type == "moved" && !tab.empty()) {
        mirror.windowNamed(tab, windowOf(message));
    } else if (type == "gone" && !tab.empty()) {
        from->openers.erase(tab);
        mirror.pageGone(tab);
    } else if (type == "probe") {
        answered(from, message);
    } else if (type == "ctrl") {
        const auto down = message.find("down");
        m_ctrl = down != message.end() && down->is_boolean() && down->get<bool>();
    }
}

void ExtensionBrowsers::appeared(Profile& profile, const Json& page) {
    const std::string tab = numberOf(page, "tab");
    if (tab.empty())
        return;
    const std::string url = stringField(page, "url");
    const std::string source = numberOf(page, "sourceTab");
    profile.mirror->pageOpened(tab, url, source);
    // Whether the page can still reach its opener is the page's own to say: a
    // page opened by the user, or with noopener, names its source all the
    // same. The question is marked before the window is named: a page alone
    // in its window and not yet asked reads as a pop-up that reaches its
    // opener, and a scan in between would close a noopener pop-up on that.
    if (!source.empty()) {
        profile.openers[tab] = source;
        profile.mirror->kindAsked(tab, url);
    }
    profile.mirror->windowNamed(tab, windowOf(page));
    if (!source.empty())
        send(profile, tab, url, MirrorClock::now());
}

void ExtensionBrowsers::send(Profile& profile, const std::string& tab, const std::string& url,
                             MirrorClock::time_point firstAsked) {
    const long id = profile.nextQuestion++;
    {
        const std::lock_guard lock(m_mutex);
        profile.questions[id] = {tab, url, firstAsked};
        m_changed = true;
    }
    m_wake.notify_all();
    if (ExtensionSocket* socket = m_ready)
        socket->send(profile.connection, {{"type", "probe"}, {"id", id}, {"tab", tabNumber(tab)}});
}

// A page that could not be asked (a pop-up with no document yet, or still
// its empty one, a privileged page, one in alert()) is asked again shortly,
// until its time is up; it then counts as one that cannot answer.
void ExtensionBrowsers::answered(const std::shared_ptr<Profile>& profile, const Json& answer) {
    const auto id = answer.find("id");
    if (id == answer.end() || !id->is_number_integer())
        return;
    Question question;
    {
        const std::lock_guard lock(m_mutex);
        const auto asked = profile->questions.find(id->get<long>());
        if (asked == profile->questions.end())
            return;
        question = asked->second;
        profile->questions.erase(asked);
    }
    const auto opener = answer.find("opener");
    const auto contentType = answer.find("contentType");
    // A new pop-up may still answer from the empty document it starts with:
    // that is not the document at the address it was asked about.
    const auto answeredAt = answer.find("url");
    if (opener == answer.end() || !opener->is_boolean() || contentType == answer.end() ||
        !contentType->is_string() ||
        (answeredAt != answer.end() && answeredAt->is_string() && *answeredAt != question.url)) {
        {
            const std::lock_guard lock(m_mutex);
            m_retries.push_back(
                {profile, question.tab, question.url, question.firstAsked, MirrorClock::now() + RetryAfter});
            m_changed = true;
        }
        m_wake.notify_all();
        return;
    }
    profile->mirror->kindAnswered(question.tab, question.url,
                                  browsers::isHtmlMimeType(contentType->get<std::string>()),
                                  opener->get<bool>());
}

std::shared_ptr<ShellWindows> ExtensionBrowsers::createShellWindows() {
    const auto connected = mirrors();
    if (std::none_of(connected.begin(), connected.end(),
                     [](const auto& mirror) { return mirror->connected(); }))
        throw Error(errc::AutomationError, "No browser extension has reached the program");
    return std::make_shared<ProfilePages>(*m_socket, [this] {
        const std::lock_guard lock(m_mutex);
        std::vector<std::shared_ptr<Profile>> all;
        for (const auto& [id, profile] : m_profiles)
            all.push_back(profile);
        return all;
    });
}

std::unique_ptr<NewBrowser> ExtensionBrowsers::createBrowser() {
    const std::lock_guard lock(m_mutex);
    for (const auto& [id, profile] : m_profiles) {
        if (profile->mirror->connected())
            return std::make_unique<ProfileNewBrowser>(*m_socket, id);
    }
    throw Error(errc::AutomationError, "No browser extension has reached the program");
}

std::int16_t ExtensionCtrlKeyState::GetKeyState(int virtualKey) {
    if (virtualKey != VK_CONTROL || m_serverReachable())
        return m_first.GetKeyState(virtualKey);
    return m_extensionCtrl() ? static_cast<std::int16_t>(-0x8000) : std::int16_t{0};
}

} // namespace tavro::extension

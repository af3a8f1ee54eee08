#include "browsers/extension/extension_browsers.h"

#include "browsers/mirror/browser_set.h"
#include "browsers/wire/json_message.h"
#include "platform/error.h"

#include <algorithm>

namespace tavro::extension {

using browsers::PageMirror;
using browsers::SessionAccess;

// One connected profile. The mirror is read by the walk; the rest is the
// socket's thread's alone.
struct ExtensionBrowsers::Profile {
    Profile(ExtensionSocket& socket, ConnectionId id, std::function<void(bool)> ctrl,
            std::shared_ptr<browsers::MirrorNews> news)
        : channel(socket, id), protocol(std::move(ctrl)),
          mirror(std::make_shared<PageMirror>(std::move(news), ExtensionProtocol::AnswerTime)) {}

    ExtensionChannel channel;
    ExtensionProtocol protocol;
    std::shared_ptr<PageMirror> mirror;
    // Made once the profile is in the map; gone with the connection.
    std::unique_ptr<browsers::Session> session;
    // The protocol's family, copied for the user-interface thread; guarded by
    // the map's mutex.
    std::string family;
};

namespace {

// Every connected profile's pages, one profile after the other.
class ProfilePages final : public ShellWindows {
public:
    explicit ProfilePages(std::function<std::vector<SessionAccess>()> profiles)
        : m_profiles(std::move(profiles)) {}

    std::unique_ptr<WindowWalk> walk() override {
        std::vector<std::unique_ptr<WindowWalk>> walks;
        for (SessionAccess& profile : m_profiles()) {
            if (profile.mirror->connected()) {
                auto records = profile.mirror->snapshot();
                walks.push_back(
                    browsers::walkOver(std::move(records), browsers::closerOf(std::move(profile))));
            }
        }
        if (walks.empty())
            throw Error(errc::AutomationError, "No browser extension has reached the program");
        return browsers::chainWalks(std::move(walks));
    }

private:
    std::function<std::vector<SessionAccess>()> m_profiles;
};

} // namespace

ExtensionBrowsers::ExtensionBrowsers(const std::string& socketPath, wire::ExtensionSocketLimits limits,
                                     browsers::Timeouts timeouts)
    : m_timeouts(timeouts) {
    m_socket = std::make_unique<ExtensionSocket>(
        socketPath,
        wire::ExtensionSocketEvents{[this](ConnectionId id) { connected(id); },
                                    [this](ConnectionId id, Json message) { heard(id, std::move(message)); },
                                    [this](ConnectionId id) { closed(id); },
                                    [this](Clock::time_point now) { return turn(now); }},
        limits, ExtensionSocket::Deferred{});
    // Only now: a profile's channel reaches the socket through m_socket.
    m_socket->start();
}

ExtensionBrowsers::~ExtensionBrowsers() {
    m_socket.reset();
    // The socket's thread is gone: the sessions end here.
    const std::lock_guard lock(m_mutex);
    m_profiles.clear();
}

void ExtensionBrowsers::connected(ConnectionId id) {
    auto profile = std::make_shared<Profile>(
        *m_socket, id, [this](bool down) { m_ctrl = down; }, m_news);
    {
        const std::lock_guard lock(m_mutex);
        m_profiles.emplace(id, profile);
    }
    profile->session = std::make_unique<browsers::Session>(profile->channel, profile->protocol,
                                                           *profile->mirror, m_timeouts);
}

void ExtensionBrowsers::heard(ConnectionId id, Json message) {
    std::shared_ptr<Profile> from;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_profiles.find(id);
        if (it == m_profiles.end())
            return;
        from = it->second;
    }
    const bool hello = wire::stringField(message, "type") == "hello";
    from->channel.deliver(std::move(message));
    if (hello) {
        const std::lock_guard lock(m_mutex);
        from->family = from->protocol.family();
    }
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
    gone->channel.ended();
    gone->session.reset();
    m_ctrl = false;
}

// The sessions' timed work: questions overdue, asked again, a quiet
// extension asked whether it still listens. One that floods, will not serve
// or stops answering is dropped; its browser connects again.
std::optional<Clock::time_point> ExtensionBrowsers::turn(Clock::time_point now) {
    std::vector<std::shared_ptr<Profile>> all;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [id, profile] : m_profiles)
            all.push_back(profile);
    }
    std::optional<Clock::time_point> next;
    for (const auto& profile : all) {
        if (!profile->session || !profile->channel.isOpen())
            continue;
        if (!profile->session->turn(now)) {
            profile->channel.hangUp();
            continue;
        }
        next = next ? std::min(*next, profile->session->due()) : profile->session->due();
    }
    return next;
}

SessionAccess ExtensionBrowsers::accessOf(const std::shared_ptr<Profile>& profile) const {
    std::weak_ptr<Profile> weak = profile;
    return {profile->mirror, [weak](browsers::SessionWork work) {
                const std::shared_ptr<Profile> alive = weak.lock();
                return alive && alive->channel.execute([weak, work = std::move(work)] {
                    // Run on the socket's thread: the profile may have gone meanwhile.
                    if (const auto still = weak.lock(); still && still->channel.isOpen())
                        work(still->protocol, still->channel);
                });
            }};
}

std::vector<SessionAccess> ExtensionBrowsers::profiles() const {
    const std::lock_guard lock(m_mutex);
    std::vector<SessionAccess> all;
    for (const auto& [id, profile] : m_profiles)
        all.push_back(accessOf(profile));
    return all;
}

std::vector<std::string> ExtensionBrowsers::families() const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> all;
    for (const auto& [id, profile] : m_profiles) {
        if (!profile->family.empty())
            all.push_back(profile->family);
    }
    return all;
}

std::shared_ptr<ShellWindows> ExtensionBrowsers::createShellWindows() {
    const auto connected = profiles();
    if (std::none_of(connected.begin(), connected.end(),
                     [](const SessionAccess& profile) { return profile.mirror->connected(); }))
        throw Error(errc::AutomationError, "No browser extension has reached the program");
    return std::make_shared<ProfilePages>([this] { return profiles(); });
}

std::unique_ptr<NewBrowser> ExtensionBrowsers::createBrowser() {
    for (SessionAccess& profile : profiles()) {
        if (profile.mirror->connected())
            return browsers::newBrowserOf(std::move(profile));
    }
    throw Error(errc::AutomationError, "No browser extension has reached the program");
}

std::int16_t ExtensionCtrlKeyState::GetKeyState(int virtualKey) {
    if (virtualKey != VK_CONTROL || m_serverReachable())
        return m_first.GetKeyState(virtualKey);
    return m_extensionCtrl() ? static_cast<std::int16_t>(-0x8000) : std::int16_t{0};
}

} // namespace tavro::extension

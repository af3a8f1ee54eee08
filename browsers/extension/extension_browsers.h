#pragma once

#include "browsers/extension/extension_protocol.h"
#include "browsers/mirror/mirrored_browser.h"
#include "platform/browser.h"
#include "platform/key_state.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavro::extension {

// The browsers people browse in, watched through the program's browser
// extension: each browser profile whose extension reaches the program, through
// its native messaging host and the program's socket, is a browser of its own,
// in the order they connected, with a session and a mirror of its own, as a
// debugging port's browser has. No port is opened anywhere.
//
// Threads: the socket's thread owns every connection, its protocol and its
// session, and runs their timed work between the messages; the
// user-interface thread reads the mirrors and hands work over.
class ExtensionBrowsers final : public BrowserAutomation {
public:
    // Listens at socketPath; raises an Error when the socket cannot be had.
    explicit ExtensionBrowsers(const std::string& socketPath, wire::ExtensionSocketLimits limits = {},
                               browsers::Timeouts timeouts = {});
    ~ExtensionBrowsers() override;
    ExtensionBrowsers(const ExtensionBrowsers&) = delete;
    ExtensionBrowsers& operator=(const ExtensionBrowsers&) = delete;

    // The pages of every connected profile; raises an Error while none is.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the first connected profile; raises an Error while none is.
    std::unique_ptr<NewBrowser> createBrowser() override;
    std::vector<BrowserNews*> news() override { return {m_news.get()}; }

    // Whether Ctrl is held in the focused page of a connected profile, as its
    // extension heard it.
    bool ctrlHeld() const { return m_ctrl; }
    // The connected profiles, in the order they connected.
    std::vector<browsers::SessionAccess> profiles() const;
    // The browser family of each connected profile that has said which it
    // is, "chromium" or "firefox", in the order they connected; from any thread.
    std::vector<std::string> families() const;

    struct Profile;

private:
    void connected(ConnectionId id);
    void heard(ConnectionId id, Json message);
    void closed(ConnectionId id);
    std::optional<Clock::time_point> turn(Clock::time_point now);
    browsers::SessionAccess accessOf(const std::shared_ptr<Profile>& profile) const;

    browsers::Timeouts m_timeouts;
    std::shared_ptr<browsers::MirrorNews> m_news = std::make_shared<browsers::MirrorNews>();
    std::atomic<bool> m_ctrl{false};
    // Guards the map's shape, which the socket's thread changes and the
    // user-interface thread reads; ordered by connection, as the walk takes
    // them.
    mutable std::mutex m_mutex;
    std::map<ConnectionId, std::shared_ptr<Profile>> m_profiles;
    // Last: its thread calls into everything above until it is destroyed.
    std::unique_ptr<ExtensionSocket> m_socket;
};

// Ctrl as the X server tells it wherever there is one, else as the browser
// extension heard it in the focused page: on a Wayland desktop without
// XWayland the server cannot be asked.
class ExtensionCtrlKeyState final : public KeyState {
public:
    // serverReachable tells whether the first source has a server to ask;
    // extensionCtrl whether the extension hears Ctrl held.
    ExtensionCtrlKeyState(KeyState& first, std::function<bool()> serverReachable,
                          std::function<bool()> extensionCtrl)
        : m_first(first), m_serverReachable(std::move(serverReachable)),
          m_extensionCtrl(std::move(extensionCtrl)) {}
    std::int16_t GetKeyState(int virtualKey) override;

private:
    KeyState& m_first;
    std::function<bool()> m_serverReachable;
    std::function<bool()> m_extensionCtrl;
};

} // namespace tavro::extension

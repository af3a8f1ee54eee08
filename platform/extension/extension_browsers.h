#pragma once

#include "platform/browser.h"
#include "platform/browsers/page_mirror.h"
#include "platform/extension/extension_socket.h"
#include "platform/key_state.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavro::extension {

// The browsers people browse in, watched through the program's browser
// extension: each browser profile whose extension reaches the program, through
// its native messaging host and the program's socket, is a browser of its own,
// in the order they connected. Each profile's news feeds a page mirror of its
// own, as a debugging port's does, so the scan, Ctrl and the allowed list
// treat its pages as any other browser's. No port is opened anywhere.
class ExtensionBrowsers final : public BrowserAutomation {
public:
    // How long a page is given to say whether it can reach its opener and
    // what it shows: the question goes through the host and the extension,
    // and a new pop-up has no document to ask at first.
    static constexpr std::chrono::milliseconds AnswerTime{1000};

    // Listens at socketPath; raises an Error when the socket cannot be had.
    explicit ExtensionBrowsers(const std::string& socketPath, ExtensionSocketLimits limits = {});
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
    // The mirrors of the connected profiles, in the order they connected (for
    // tests and tools).
    std::vector<std::shared_ptr<browsers::PageMirror>> mirrors() const;

    struct Profile;
    struct Question;
    struct Retry;

private:
    // How soon a page that could not be asked is asked again.
    static constexpr std::chrono::milliseconds RetryAfter{50};
    // A connected profile's mirror is kept fresh this often: the extension
    // speaks only when something happens.
    static constexpr std::chrono::seconds Quiet{1};

    using MirrorNews = browsers::MirrorNews;

    void connected(ConnectionId id);
    void heard(ConnectionId id, const Json& message);
    void closed(ConnectionId id);
    void keepTime();
    std::shared_ptr<Profile> profile(ConnectionId id) const;
    void appeared(Profile& profile, const Json& page);
    void send(Profile& profile, const std::string& tab, const std::string& url,
              browsers::MirrorClock::time_point firstAsked);
    void answered(const std::shared_ptr<Profile>& profile, const Json& answer);

    std::shared_ptr<MirrorNews> m_news = std::make_shared<MirrorNews>();
    std::atomic<bool> m_ctrl{false};
    mutable std::mutex m_mutex;
    // Guarded by m_mutex; ordered by connection, as the walk takes them.
    std::map<ConnectionId, std::shared_ptr<Profile>> m_profiles;
    std::vector<Retry> m_retries;
    bool m_stopping = false;
    // Something for the clock to look at again: a question out, a retry.
    bool m_changed = false;
    std::condition_variable m_wake;
    std::thread m_clock;
    // Last: its thread calls into everything above until it is destroyed.
    std::unique_ptr<ExtensionSocket> m_socket;
    // The socket once it is made: a host may connect before the constructor
    // has handed it over.
    std::atomic<ExtensionSocket*> m_ready{nullptr};
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

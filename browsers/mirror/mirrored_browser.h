#pragma once

#include "browsers/mirror/browser_link.h"
#include "platform/browser.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::browsers {

// The way to one session from the user-interface thread: the mirror it keeps,
// and work handed to the thread that owns it, which is refused (false) once
// no browser serves there.
struct SessionAccess {
    std::shared_ptr<PageMirror> mirror;
    std::function<bool(SessionWork)> post;
};

// Closes a page through its session: the request is handed over and not
// waited for, and the page is passed over while the browser closes it.
std::shared_ptr<PageCloser> closerOf(SessionAccess access);
// A new window of the session's browser. The browser shows a window as soon
// as it opens it, so there is no hidden stage: the window appears at
// Navigate2, and setVisible has nothing to do.
std::unique_ptr<NewBrowser> newBrowserOf(SessionAccess access);

// The popup scan's collection over one browser's mirror: a walk reads the
// pages as the browser last told of them and never waits for it; a close is
// handed to the browser's thread.
class MirroredPages final : public ShellWindows {
public:
    explicit MirroredPages(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}

    // Raises an Error while no browser serves.
    std::unique_ptr<WindowWalk> walk() override;

    // The records of the last walk, in order (for tests and benchmarks).
    const PageRecords& lastWalk() const { return m_lastWalk; }

private:
    std::shared_ptr<BrowserLink> m_link;
    PageRecords m_lastWalk;
};

// A browser watched through a protocol of its own on a link of its own.
class MirroredBrowser : public BrowserAutomation {
public:
    // absent is what a walk says while no such browser serves.
    MirroredBrowser(std::vector<Place> places, std::unique_ptr<BrowserProtocol> protocol, Timeouts timeouts,
                    std::string absent);

    // Raises an Error while no browser serves; waits for one no longer than
    // the timeouts' search patience.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the browser that serves; raises an Error when none does.
    std::unique_ptr<NewBrowser> createBrowser() override;
    std::vector<BrowserNews*> news() override { return {&m_link->mirror().news()}; }

    BrowserLink& link() { return *m_link; }
    PageMirror& mirror() { return m_link->mirror(); }

private:
    std::shared_ptr<BrowserLink> m_link;
    std::string m_absent;
};

// How a link is reached from the user-interface thread.
SessionAccess accessOf(const std::shared_ptr<BrowserLink>& link);

} // namespace tavro::browsers

#pragma once

#include "platform/bidi/context_events.h"
#include "platform/bidi/session_link.h"
#include "platform/browser.h"

#include <memory>
#include <vector>

namespace tavro::bidi {

// The user's Firefox, reached through WebDriver BiDi on the loopback
// interface.
class BidiBrowserAutomation final : public BrowserAutomation {
public:
    explicit BidiBrowserAutomation(FirefoxPlaces places = defaultFirefoxPlaces(), Timeouts timeouts = {});

    // Firefox's pages; raises an Error when no Firefox lets us have a
    // session. The collection finds a restarted Firefox again by itself.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the connected Firefox; raises an Error when there is none.
    std::unique_ptr<NewBrowser> createBrowser() override;
    // Firefox's events of pages opened by script.
    std::vector<BrowserNews*> news() override { return {m_events.get()}; }
    ContextEvents& events() { return *m_events; }

    SessionLink& link() { return *m_link; }

private:
    std::shared_ptr<SessionLink> m_link;
    std::shared_ptr<ContextEvents> m_events = std::make_shared<ContextEvents>(m_link);
};

} // namespace tavro::bidi

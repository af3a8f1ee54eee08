#pragma once

#include "platform/browser.h"
#include "platform/posix/desktop_opener.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro::browsers {

// The walks one after the other. A walk that fails ends its own part only.
std::unique_ptr<WindowWalk> chainWalks(std::vector<std::unique_ptr<WindowWalk>> walks);

// Every browser the program watches, as one: a walk visits the pages of the
// first browser in its own order, then those of the next. A browser that is
// absent, slow or dying costs the others nothing beyond its own deadlines.
class BrowserSet final : public BrowserAutomation {
public:
    // The members are tried in this order; they must outlive the set and
    // every collection it hands out. Their createBrowser raises an Error when
    // their browser is not connected.
    explicit BrowserSet(std::vector<BrowserAutomation*> members, std::string desktopOpener = "xdg-open");

    // One more member, tried after the others; before the first walk.
    void add(BrowserAutomation* member) { m_members.push_back(member); }

    // The collection over every browser; raises an Error when none answers.
    // A browser that was absent is looked for again at every walk.
    std::shared_ptr<ShellWindows> createShellWindows() override;
    // A window of the first connected browser, or else of the user's default
    // browser through the desktop's opener; raises an Error when neither can
    // be had.
    std::unique_ptr<NewBrowser> createBrowser() override;
    // The announcements of every member.
    std::vector<BrowserNews*> news() override;

private:
    std::vector<BrowserAutomation*> m_members;
    std::shared_ptr<DesktopOpener> m_opener;
};

} // namespace tavro::browsers

#include "browsers/mirror/browser_set.h"

#include "platform/error.h"

#include <algorithm>
#include <iterator>

namespace tavro::browsers {

namespace {

// The members' walks one after the other. A member whose walk fails ends its
// own part only.
class ChainedWalk final : public WindowWalk {
public:
    explicit ChainedWalk(std::vector<std::unique_ptr<WindowWalk>> walks) : m_walks(std::move(walks)) {}

    std::shared_ptr<BrowserWindow> next() override {
        while (m_current < m_walks.size()) {
            try {
                if (auto window = m_walks[m_current]->next())
                    return window;
            } catch (const Error&) {
            }
            ++m_current;
        }
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<WindowWalk>> m_walks;
    std::size_t m_current = 0;
};

class CombinedCollection final : public ShellWindows {
public:
    struct Member {
        BrowserAutomation* automation;
        std::shared_ptr<ShellWindows> windows;
    };
    explicit CombinedCollection(std::vector<Member> members) : m_members(std::move(members)) {}

    std::unique_ptr<WindowWalk> walk() override {
        std::vector<std::unique_ptr<WindowWalk>> walks;
        std::string lastFailure = "no browser to watch";
        for (Member& member : m_members) {
            try {
                if (!member.windows)
                    member.windows = member.automation->createShellWindows();
                walks.push_back(member.windows->walk());
            } catch (const Error& e) {
                lastFailure = e.description();
            }
        }
        if (walks.empty())
            throw Error(errc::AutomationError, lastFailure);
        return chainWalks(std::move(walks));
    }

private:
    std::vector<Member> m_members;
};

} // namespace

std::unique_ptr<WindowWalk> chainWalks(std::vector<std::unique_ptr<WindowWalk>> walks) {
    return std::make_unique<ChainedWalk>(std::move(walks));
}

namespace {

class DesktopNewBrowser final : public NewBrowser {
public:
    explicit DesktopNewBrowser(std::shared_ptr<DesktopOpener> opener) : m_opener(std::move(opener)) {}
    void Navigate2(const std::string& url) override { m_opener->open(url); }
    void setVisible(bool) override {}

private:
    std::shared_ptr<DesktopOpener> m_opener;
};

} // namespace

BrowserSet::BrowserSet(std::vector<BrowserAutomation*> members, std::string desktopOpener)
    : m_members(std::move(members)), m_opener(std::make_shared<DesktopOpener>(std::move(desktopOpener))) {}

std::shared_ptr<ShellWindows> BrowserSet::createShellWindows() {
    std::vector<CombinedCollection::Member> members;
    bool anyAnswered = false;
    std::string lastFailure = "no browser to watch";
    for (BrowserAutomation* automation : m_members) {
        CombinedCollection::Member member{automation, nullptr};
        try {
            member.windows = automation->createShellWindows();
            anyAnswered = true;
        } catch (const Error& e) {
            lastFailure = e.description();
        }
        members.push_back(std::move(member));
    }
    if (!anyAnswered)
        throw Error(errc::AutomationError, lastFailure);
    return std::make_shared<CombinedCollection>(std::move(members));
}

std::unique_ptr<NewBrowser> BrowserSet::createBrowser() {
    for (BrowserAutomation* automation : m_members) {
        try {
            return automation->createBrowser();
        } catch (const Error&) {
            // Not running; the next browser, or the user's default one, will do.
        }
    }
    if (!m_opener->available())
        throw Error(errc::FileNotFound,
                    "No web browser can be started: neither a browser with a debugging port "
                    "nor the desktop's opener command was found");
    return std::make_unique<DesktopNewBrowser>(m_opener);
}

std::vector<BrowserNews*> BrowserSet::news() {
    std::vector<BrowserNews*> all;
    for (BrowserAutomation* member : m_members)
        std::ranges::copy(member->news(), std::back_inserter(all));
    return all;
}

} // namespace tavro::browsers

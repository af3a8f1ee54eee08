#include "tests/fakes/fake_browser.h"

namespace tavro::fakes {

namespace {

class FakeWalk final : public WindowWalk {
public:
    explicit FakeWalk(FakeShellWindows& shell) : m_shell(shell) {}
    std::shared_ptr<BrowserWindow> next() override {
        if (m_position == m_shell.failStepAt)
            throw Error(errc::AutomationError, "Automation error");
        if (m_position >= static_cast<int>(m_shell.windows.size()))
            return nullptr;
        return m_shell.windows[static_cast<std::size_t>(m_position++)];
    }

private:
    FakeShellWindows& m_shell;
    int m_position = 0;
};

class FakeNewBrowser final : public NewBrowser {
public:
    explicit FakeNewBrowser(FakeBrowserAutomation& owner) : m_owner(owner) {}
    void Navigate2(const std::string& url) override {
        if (m_owner.failNavigate)
            throw Error(errc::AutomationError, "Automation error");
        m_owner.opened.push_back({url, false});
        m_index = m_owner.opened.size() - 1;
        m_navigated = true;
    }
    void setVisible(bool visible) override {
        if (m_navigated)
            m_owner.opened[m_index].visible = visible;
    }

private:
    FakeBrowserAutomation& m_owner;
    std::size_t m_index = 0;
    bool m_navigated = false;
};

} // namespace

std::unique_ptr<WindowWalk> FakeShellWindows::walk() {
    ++walksStarted;
    if (failWalk)
        throw Error(errc::AutomationError, "Automation error");
    return std::make_unique<FakeWalk>(*this);
}

std::unique_ptr<NewBrowser> FakeBrowserAutomation::createBrowser() {
    if (newBrowserFailure)
        std::rethrow_exception(newBrowserFailure);
    if (failNewBrowser)
        throw Error(errc::CannotCreateObject, "ActiveX component can't create object");
    return std::make_unique<FakeNewBrowser>(*this);
}

} // namespace tavro::fakes

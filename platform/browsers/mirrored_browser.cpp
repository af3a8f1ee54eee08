#include "platform/browsers/mirrored_browser.h"

#include "platform/error.h"

namespace tavro::browsers {

namespace {

// The request is handed to the browser's thread and not waited for.
class LinkCloser final : public PageCloser {
public:
    explicit LinkCloser(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}
    void close(const PageRecord& page) override {
        if (!m_link->close(page.id))
            throw Error(errc::AutomationError, "The browser has gone");
        m_link->mirror().closeAsked(page.id);
    }

private:
    std::shared_ptr<BrowserLink> m_link;
};

// The browser shows a window as soon as it opens it, so there is no hidden
// stage: the window appears at Navigate2 and setVisible has nothing to do.
class LinkNewBrowser final : public NewBrowser {
public:
    explicit LinkNewBrowser(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}
    void Navigate2(const std::string& url) override {
        if (!m_link->open(url))
            throw Error(errc::AutomationError, "The browser has gone");
    }
    void setVisible(bool) override {}

private:
    std::shared_ptr<BrowserLink> m_link;
};

} // namespace

std::unique_ptr<WindowWalk> MirroredPages::walk() {
    if (!m_link->mirror().connected())
        throw Error(errc::AutomationError, "The browser has gone");
    m_lastWalk = m_link->mirror().snapshot();
    return walkOver(m_lastWalk, std::make_shared<LinkCloser>(m_link));
}

MirroredBrowser::MirroredBrowser(std::unique_ptr<BrowserProtocol> protocol, Timeouts timeouts,
                                 std::string absent)
    : m_link(std::make_shared<BrowserLink>(std::move(protocol), timeouts)), m_absent(std::move(absent)) {}

std::shared_ptr<ShellWindows> MirroredBrowser::createShellWindows() {
    if (!m_link->mirror().waitConnected(m_link->timeouts().search))
        throw Error(errc::AutomationError, m_absent);
    return std::make_shared<MirroredPages>(m_link);
}

std::unique_ptr<NewBrowser> MirroredBrowser::createBrowser() {
    if (!m_link->mirror().waitConnected(m_link->timeouts().search))
        throw Error(errc::AutomationError, m_absent);
    return std::make_unique<LinkNewBrowser>(m_link);
}

} // namespace tavro::browsers

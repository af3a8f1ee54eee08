#include "platform/cdp/cdp_browser.h"

#include "platform/cdp/page_collection.h"
#include "platform/error.h"

namespace tavro::cdp {

namespace {

// The browser shows a window as soon as it opens it, so there is no hidden
// stage: the window appears at Navigate2 and setVisible has nothing to do.
class CdpNewBrowser final : public NewBrowser {
public:
    explicit CdpNewBrowser(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}
    void Navigate2(const std::string& url) override {
        m_link->connection().call("Target.createTarget", {{"url", url}, {"newWindow", true}},
                                  m_link->timeouts().newWindow);
    }
    void setVisible(bool) override {}

private:
    std::shared_ptr<BrowserLink> m_link;
};

class DesktopNewBrowser final : public NewBrowser {
public:
    explicit DesktopNewBrowser(std::shared_ptr<DesktopOpener> opener) : m_opener(std::move(opener)) {}
    void Navigate2(const std::string& url) override { m_opener->open(url); }
    void setVisible(bool) override {}

private:
    std::shared_ptr<DesktopOpener> m_opener;
};

} // namespace

CdpBrowserAutomation::CdpBrowserAutomation(BrowserPlaces places, Timeouts timeouts, std::string desktopOpener)
    : m_link(std::make_shared<BrowserLink>(std::move(places), timeouts)),
      m_opener(std::make_shared<DesktopOpener>(std::move(desktopOpener))) {}

std::shared_ptr<ShellWindows> CdpBrowserAutomation::createShellWindows() {
    m_link->connection();
    return std::make_shared<PageCollection>(m_link);
}

std::unique_ptr<NewBrowser> CdpBrowserAutomation::createBrowser() {
    try {
        m_link->connection();
        return std::make_unique<CdpNewBrowser>(m_link);
    } catch (const Error&) {
        // No browser of ours is running; the user's default browser will do.
    }
    if (!m_opener->available())
        throw Error(errc::FileNotFound,
                    "No web browser can be started: neither a browser with a debugging port "
                    "nor the desktop's opener command was found");
    return std::make_unique<DesktopNewBrowser>(m_opener);
}

} // namespace tavro::cdp

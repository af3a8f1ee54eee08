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

} // namespace

CdpBrowserAutomation::CdpBrowserAutomation(BrowserPlaces places, Timeouts timeouts)
    : m_link(std::make_shared<BrowserLink>(std::move(places), timeouts)) {}

std::shared_ptr<ShellWindows> CdpBrowserAutomation::createShellWindows() {
    m_link->connection();
    return std::make_shared<PageCollection>(m_link);
}

std::unique_ptr<NewBrowser> CdpBrowserAutomation::createBrowser() {
    m_link->connection();
    return std::make_unique<CdpNewBrowser>(m_link);
}

} // namespace tavro::cdp

#include "platform/bidi/bidi_browser.h"

#include "platform/bidi/page_collection.h"

namespace tavro::bidi {

namespace {

// Firefox shows a window as soon as it opens it, so there is no hidden
// stage: the window appears at Navigate2 and setVisible has nothing to do.
class BidiNewBrowser final : public NewBrowser {
public:
    explicit BidiNewBrowser(std::shared_ptr<SessionLink> link) : m_link(std::move(link)) {}
    void Navigate2(const std::string& url) override {
        Connection& c = m_link->connection();
        const auto wait = m_link->timeouts().newWindow;
        const Json created = c.call("browsingContext.create", {{"type", "window"}}, wait);
        // Read as any answer of Firefox's is: whatever its shape, never a crash.
        c.call("browsingContext.navigate",
               {{"context", stringField(created, "context")}, {"url", url}, {"wait", "none"}}, wait);
    }
    void setVisible(bool) override {}

private:
    std::shared_ptr<SessionLink> m_link;
};

} // namespace

BidiBrowserAutomation::BidiBrowserAutomation(FirefoxPlaces places, Timeouts timeouts)
    : m_link(std::make_shared<SessionLink>(std::move(places), timeouts)) {}

std::shared_ptr<ShellWindows> BidiBrowserAutomation::createShellWindows() {
    m_link->connection();
    return std::make_shared<PageCollection>(m_link, m_events);
}

std::unique_ptr<NewBrowser> BidiBrowserAutomation::createBrowser() {
    m_link->connection();
    return std::make_unique<BidiNewBrowser>(m_link);
}

} // namespace tavro::bidi

#include "browsers/mirror/mirrored_browser.h"

#include "platform/error.h"

#include <set>

namespace tavro::browsers {

namespace {

class SessionCloser final : public PageCloser {
public:
    explicit SessionCloser(SessionAccess access) : m_access(std::move(access)) {}
    void close(const PageRecord& page) override {
        const std::string id = page.id;
        if (!m_access.post([id](BrowserProtocol& protocol, Channel& c) { protocol.close(c, id); }))
            throw Error(errc::AutomationError, "The browser has gone");
        m_access.mirror->closeAsked(id);
        m_closed.insert(id);
    }
    // The scan has judged every held page it was shown: what it did not
    // close, it keeps.
    void walked(const PageRecords& records) override {
        std::vector<std::string> kept;
        for (const auto& record : records)
            if (record->held && !m_closed.contains(record->id))
                kept.push_back(record->id);
        if (kept.empty())
            return;
        m_access.post([kept = std::move(kept)](BrowserProtocol& protocol, Channel& c) {
            for (const std::string& id : kept)
                protocol.release(c, id);
        });
    }

private:
    SessionAccess m_access;
    std::set<std::string> m_closed;
};

class SessionNewBrowser final : public NewBrowser {
public:
    explicit SessionNewBrowser(SessionAccess access) : m_access(std::move(access)) {}
    void Navigate2(const std::string& url) override {
        if (!m_access.post([url](BrowserProtocol& protocol, Channel& c) { protocol.open(c, url); }))
            throw Error(errc::AutomationError, "The browser has gone");
    }
    void setVisible(bool) override {}

private:
    SessionAccess m_access;
};

} // namespace

std::shared_ptr<PageCloser> closerOf(SessionAccess access) {
    return std::make_shared<SessionCloser>(std::move(access));
}

std::unique_ptr<NewBrowser> newBrowserOf(SessionAccess access) {
    return std::make_unique<SessionNewBrowser>(std::move(access));
}

SessionAccess accessOf(const std::shared_ptr<BrowserLink>& link) {
    return {link->sharedMirror(), [link](SessionWork work) { return link->post(std::move(work)); }};
}

std::unique_ptr<WindowWalk> MirroredPages::walk() {
    if (!m_link->mirror().connected())
        throw Error(errc::AutomationError, "The browser has gone");
    m_lastWalk = m_link->mirror().snapshot();
    return walkOver(m_lastWalk, closerOf(accessOf(m_link)));
}

MirroredBrowser::MirroredBrowser(std::vector<Place> places, std::unique_ptr<BrowserProtocol> protocol,
                                 Timeouts timeouts, std::string absent)
    : m_link(std::make_shared<BrowserLink>(std::move(places), std::move(protocol), timeouts)),
      m_absent(std::move(absent)) {}

std::shared_ptr<ShellWindows> MirroredBrowser::createShellWindows() {
    if (!m_link->mirror().waitConnected(m_link->timeouts().search))
        throw Error(errc::AutomationError, m_absent);
    return std::make_shared<MirroredPages>(m_link);
}

std::unique_ptr<NewBrowser> MirroredBrowser::createBrowser() {
    if (!m_link->mirror().waitConnected(m_link->timeouts().search))
        throw Error(errc::AutomationError, m_absent);
    return newBrowserOf(accessOf(m_link));
}

} // namespace tavro::browsers

#include "platform/cdp/page_collection.h"

#include "platform/error.h"

#include <algorithm>
#include <set>

namespace tavro::cdp {

namespace {

// The request is written and not waited for.
class TargetCloser final : public browsers::PageCloser {
public:
    explicit TargetCloser(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}
    void close(const PageRecord& page) override {
        Connection* c = m_link->openConnection();
        if (c == nullptr)
            throw Error(errc::AutomationError, "The browser has gone");
        c->post("Target.closeTarget", {{"targetId", page.id}});
        if (!c->flush(Clock::now() + m_link->timeouts().browser))
            throw Error(errc::AutomationError, "The browser did not take the close request");
    }

private:
    std::shared_ptr<BrowserLink> m_link;
};

} // namespace

// A list that arrives after its walk stopped waiting serves the next walk: a
// browser with pages whose addresses are megabytes long may take longer to
// send it than a walk waits, and a walk that asked afresh each time would
// never get one.
std::vector<PageCollection::Target> PageCollection::readTargets(Connection& c) {
    if (m_listId == 0 || !c.awaiting(m_listId))
        m_listId = c.send("Target.getTargets", {{"filter", Json::array({{{"type", "page"}}})}});
    c.wait({m_listId}, Clock::now() + m_link->timeouts().browser);
    std::optional<Json> answer = c.take(m_listId);
    if (!answer)
        throw Error(errc::AutomationError,
                    c.isOpen() ? "The browser did not send its pages in time" : "The browser has gone");
    m_listId = 0;
    return pagesOf(resultOf(std::move(*answer)));
}

void PageCollection::forgetGone(Connection& c, const std::vector<Target>& targets) {
    std::set<std::string> present;
    for (const Target& target : targets)
        present.insert(target.id);
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (present.contains(it->first)) {
            ++it;
            continue;
        }
        c.forget(it->second.attachId);
        c.forget(it->second.frameTreeId);
        m_closing->forget(it->first);
        it = m_known.erase(it);
    }
}

void PageCollection::finishProbe(Connection& c, Known& known, Json answer) {
    known.frameTreeId = 0;
    if (const auto mimeType = mimeTypeOf(std::move(answer))) {
        known.html = isHtmlMimeType(*mimeType);
        known.kindUrl = known.probeUrl;
    }
    known.probeUrl.clear();
    // Stay attached no longer than the question takes.
    if (!known.session.empty()) {
        c.post("Target.detachFromTarget", {{"sessionId", known.session}});
        known.session.clear();
    }
}

// Answers that came after an earlier tick stopped waiting are still good: they
// belong to an address the page may still show.
void PageCollection::collectAnswers(Connection& c) {
    c.poll();
    for (auto& [id, known] : m_known) {
        if (known.attachId != 0) {
            if (auto answer = c.take(known.attachId)) {
                known.attachId = 0;
                known.session = sessionOf(std::move(*answer));
                if (!known.session.empty())
                    known.frameTreeId = c.send("Page.getFrameTree", Json::object(), known.session);
                else
                    known.probeUrl.clear();
            }
        }
        if (known.frameTreeId != 0) {
            if (auto answer = c.take(known.frameTreeId))
                finishProbe(c, known, std::move(*answer));
        }
    }
}

// A pop-up opened with window features gets a browser window of its own; a
// tab opened by script shares its opener's window with other tabs. So a page
// opened by script is a pop-up when, the first time the browser names its
// window and its opener's, it is the only page in its window. The windows are
// asked only while such a page waits for that.
PageCollection::WindowAsks PageCollection::askWindows(Connection& c, const std::vector<Target>& targets) {
    WindowAsks asks;
    for (const Target& target : targets) {
        Known& known = m_known[target.id];
        if (known.popup)
            continue;
        if (target.openerId.empty())
            known.popup = false; // no script opened it: the user did
        else
            asks.undecided.push_back(&target);
    }
    if (!asks.undecided.empty()) {
        for (const Target& target : targets)
            asks.ids[target.id] = c.send("Browser.getWindowForTarget", {{"targetId", target.id}});
    }
    return asks;
}

// The kind of each document opened by script, not yet known for the address it
// shows. Only those pages are asked: the scan leaves a page no script opened
// alone whatever it shows, and asking every tab of a large browser would hold
// up the tick for nothing. Returns the questions the browser answers itself.
std::vector<long> PageCollection::probeDocumentKinds(Connection& c, const std::vector<Target>& targets) {
    std::vector<long> browserIds;
    for (const Target& target : targets) {
        Known& known = m_known[target.id];
        if (!target.canAccessOpener || (known.html && known.kindUrl == target.url))
            continue;
        if (known.probeUrl == target.url && (known.attachId != 0 || known.frameTreeId != 0)) {
            if (known.attachId != 0)
                browserIds.push_back(known.attachId);
            continue;
        }
        known.probeUrl = target.url;
        if (known.frameTreeId != 0) {
            c.forget(known.frameTreeId);
            known.frameTreeId = 0;
        }
        if (!known.session.empty())
            known.frameTreeId = c.send("Page.getFrameTree", Json::object(), known.session);
        else if (known.attachId == 0)
            known.attachId = c.send("Target.attachToTarget", {{"targetId", target.id}, {"flatten", true}});
        if (known.attachId != 0)
            browserIds.push_back(known.attachId);
    }
    return browserIds;
}

// The browser's own answers first; then the attached pages are asked at once,
// all together, and the tick waits a short while for every page that has a
// question out.
void PageCollection::awaitAnswers(Connection& c, std::vector<long> browserIds) {
    const Timeouts& timeouts = m_link->timeouts();
    if (!browserIds.empty())
        c.wait(browserIds, Clock::now() + timeouts.browser);
    collectAnswers(c);
    std::vector<long> pageIds;
    for (const auto& [id, known] : m_known) {
        if (known.frameTreeId != 0)
            pageIds.push_back(known.frameTreeId);
    }
    if (!pageIds.empty()) {
        c.wait(pageIds, Clock::now() + timeouts.page);
        collectAnswers(c);
    }
}

// A page opened by script is decided once, the first time the browser has
// named enough windows to tell (see aloneInItsWindow).
void PageCollection::decidePopups(Connection& c, const std::vector<Target>& targets, const WindowAsks& asks) {
    std::map<std::string, std::string> windows;
    for (const auto& [id, ask] : asks.ids) {
        std::optional<Json> answer = c.take(ask);
        c.forget(ask);
        if (!answer)
            continue;
        if (const auto window = windowOf(std::move(*answer)))
            windows[id] = std::to_string(*window);
    }
    if (asks.undecided.empty())
        return;
    std::vector<browsers::PagePlace> places;
    places.reserve(targets.size());
    for (const Target& target : targets) {
        const auto window = windows.find(target.id);
        places.push_back(
            {target.id, target.openerId,
             window == windows.end() ? std::nullopt : std::optional<std::string>(window->second)});
    }
    for (const Target* target : asks.undecided) {
        const auto place = std::find_if(places.begin(), places.end(),
                                        [&](const browsers::PagePlace& p) { return p.id == target->id; });
        m_known[target->id].popup = browsers::aloneInItsWindow(*place, places);
    }
}

void PageCollection::learn(Connection& c, const std::vector<Target>& targets) {
    collectAnswers(c);
    const WindowAsks asks = askWindows(c, targets);
    std::vector<long> browserIds = probeDocumentKinds(c, targets);
    for (const auto& [id, ask] : asks.ids)
        browserIds.push_back(ask);
    awaitAnswers(c, std::move(browserIds));
    decidePopups(c, targets, asks);
}

std::unique_ptr<WindowWalk> PageCollection::walk() {
    Connection& c = m_link->connection();
    if (m_link->generation() != m_generation) {
        m_known.clear();
        m_closing->clear();
        m_listId = 0;
        m_generation = m_link->generation();
    }
    // The last walk's addresses go before the new ones come: with pages of
    // megabyte addresses, the two lists together would double the memory.
    m_lastWalk.clear();
    std::vector<Target> targets = readTargets(c);
    forgetGone(c, targets);
    learn(c, targets);
    record(std::move(targets));
    return browsers::walkOver(m_lastWalk, std::make_shared<TargetCloser>(m_link), m_closing);
}

void PageCollection::record(std::vector<Target> targets) {
    m_lastWalk.reserve(targets.size());
    for (Target& target : targets) {
        if (m_closing->closing(target.id))
            continue;
        const Known& known = m_known[target.id];
        PageRecord record;
        record.opener = target.canAccessOpener;
        if (known.html && known.kindUrl == target.url)
            record.html = known.html;
        if (known.popup)
            record.menuBar = !*known.popup;
        record.id = std::move(target.id);
        record.url = std::move(target.url);
        m_lastWalk.push_back(std::make_shared<const PageRecord>(std::move(record)));
    }
}

} // namespace tavro::cdp

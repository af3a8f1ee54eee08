#include "platform/bidi/page_collection.h"

#include "platform/error.h"

#include <set>

namespace tavro::bidi {

namespace {

// One question answers both things the scan needs from a page opened by
// script. Firefox names the opener even of a page opened with noopener, so
// whether the page can still reach it is the page's own to say.
constexpr const char* ProbeScript = "(window.opener !== null) + ' ' + document.contentType";

// The request is written and not waited for.
class ContextCloser final : public browsers::PageCloser {
public:
    ContextCloser(std::shared_ptr<SessionLink> link, std::shared_ptr<ContextEvents> events)
        : m_link(std::move(link)), m_events(std::move(events)) {}
    void close(const PageRecord& page) override {
        Connection* c = m_link->openConnection();
        if (c == nullptr)
            throw Error(errc::AutomationError, "Firefox has gone");
        m_events->changed();
        c->post("browsingContext.close", {{"context", page.id}});
        if (!c->flush(Clock::now() + m_link->timeouts().browser))
            throw Error(errc::AutomationError, "Firefox did not take the close request");
    }

private:
    std::shared_ptr<SessionLink> m_link;
    std::shared_ptr<ContextEvents> m_events;
};

} // namespace

std::vector<PageCollection::Context> PageCollection::readContexts(Connection& c) {
    const Json result = c.call("browsingContext.getTree", {{"maxDepth", 0}}, m_link->timeouts().browser);
    const auto list = result.find("contexts");
    if (list == result.end() || !list->is_array())
        throw Error(errc::AutomationError, "Firefox sent no list of pages");
    std::vector<Context> contexts;
    contexts.reserve(list->size());
    for (const Json& info : *list) {
        if (!info.is_object())
            continue;
        Context context{stringField(info, "context"), stringField(info, "url"),
                        stringField(info, "originalOpener"), stringField(info, "clientWindow")};
        if (!context.id.empty())
            contexts.push_back(std::move(context));
    }
    return contexts;
}

// Listing a few hundred pages costs Firefox more than the rest of a tick, so
// the last list serves for as long as Firefox tells of no change to it. The
// events that tell of one may already be in; they are read first.
const std::vector<PageCollection::Context>& PageCollection::currentContexts(Connection& c) {
    c.poll();
    if (!m_events->toldOfEveryChange(c) || m_events->changes() != m_listedAt) {
        const unsigned long changes = m_events->changes();
        m_contexts = readContexts(c);
        m_listedAt = changes;
    }
    return m_contexts;
}

void PageCollection::forgetGone(Connection& c, const std::vector<Context>& contexts) {
    std::set<std::string> present;
    for (const Context& context : contexts)
        present.insert(context.id);
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (present.contains(it->first)) {
            ++it;
            continue;
        }
        c.forget(it->second.probeId);
        m_closing->forget(it->first);
        it = m_known.erase(it);
    }
    m_events->keepOnly(present);
}

// Firefox names every page's window in the list itself, so a page opened by
// script is decided the first time it is seen.
void PageCollection::decidePopups(const std::vector<Context>& contexts) {
    std::vector<browsers::PagePlace> places;
    places.reserve(contexts.size());
    for (const Context& context : contexts) {
        places.push_back(
            {context.id, context.openerId,
             context.window.empty() ? std::nullopt : std::optional<std::string>(context.window)});
    }
    for (const browsers::PagePlace& place : places) {
        Known& known = m_known[place.id];
        if (known.popup)
            continue;
        if (place.openerId.empty())
            known.popup = false; // no script opened it: the user did
        else
            known.popup = browsers::aloneInItsWindow(place, places);
    }
}

// Only pages opened by script are asked, once per address: the scan leaves a
// page no script opened alone whatever it shows, and asking every tab of a
// large browser would hold up the tick for nothing. Returns the questions out.
std::vector<long> PageCollection::probePages(Connection& c, const std::vector<Context>& contexts) {
    std::vector<long> ids;
    for (const Context& context : contexts) {
        Known& known = m_known[context.id];
        if (context.openerId.empty() || (known.html && known.kindUrl == context.url))
            continue;
        if (known.probeId != 0 && known.probeUrl == context.url) {
            ids.push_back(known.probeId);
            continue;
        }
        c.forget(known.probeId);
        known.probeUrl = context.url;
        known.probeId = c.send("script.evaluate", {{"expression", ProbeScript},
                                                   {"target", {{"context", context.id}}},
                                                   {"awaitPromise", false},
                                                   {"resultOwnership", "none"}});
        ids.push_back(known.probeId);
    }
    return ids;
}

void PageCollection::finishProbe(Known& known, const Json& answer) {
    known.probeId = 0;
    if (answer.contains("error"))
        return; // a page between two documents: asked again at the next tick
    const Json result = resultOf(answer);
    const auto value = result.find("result");
    if (stringField(result, "type") != "success" || value == result.end() || !value->is_object() ||
        stringField(*value, "type") != "string")
        return;
    const std::string text = stringField(*value, "value");
    const auto space = text.find(' ');
    if (space == std::string::npos)
        return;
    known.opener = text.compare(0, space, "true") == 0;
    known.html = browsers::isHtmlMimeType(text.substr(space + 1));
    known.kindUrl = known.probeUrl;
}

// Answers that came after an earlier tick stopped waiting are still good: they
// belong to an address the page may still show.
void PageCollection::collectAnswers(Connection& c) {
    c.poll();
    for (auto& [id, known] : m_known) {
        if (known.probeId == 0)
            continue;
        if (auto answer = c.take(known.probeId))
            finishProbe(known, *answer);
    }
}

// A page's kind is that of the document it shows, asked at its listed
// address; its address may be the one it is loading, which Firefox names
// before the document arrives. A page that has never answered (an endless
// script from its first moment)
// is taken to reach its opener when it sits in a pop-up window, as a page the
// Chromium adapter cannot look into is; a tab is left alone.
PageRecord PageCollection::recordOf(const Context& context) {
    const Known& known = m_known[context.id];
    PageRecord record;
    record.id = context.id;
    record.url = m_events->addressOf(context.id, context.url);
    if (!context.openerId.empty())
        record.opener = known.opener.value_or(known.popup.value_or(false));
    if (known.html && known.kindUrl == context.url)
        record.html = known.html;
    if (known.popup)
        record.menuBar = !*known.popup;
    return record;
}

std::unique_ptr<WindowWalk> PageCollection::walk() {
    Connection& c = m_link->connection();
    if (m_link->generation() != m_generation) {
        m_known.clear();
        m_closing->clear();
        m_contexts.clear();
        m_listedAt = 0;
        m_generation = m_link->generation();
    }
    const std::vector<Context>& contexts = currentContexts(c);
    forgetGone(c, contexts);
    decidePopups(contexts);
    collectAnswers(c);
    const std::vector<long> asked = probePages(c, contexts);
    if (!asked.empty()) {
        c.wait(asked, Clock::now() + m_link->timeouts().page);
        collectAnswers(c);
    }

    m_lastWalk.clear();
    m_lastWalk.reserve(contexts.size());
    for (const Context& context : contexts) {
        if (!m_closing->closing(context.id))
            m_lastWalk.push_back(std::make_shared<const PageRecord>(recordOf(context)));
    }
    return browsers::walkOver(m_lastWalk, std::make_shared<ContextCloser>(m_link, m_events), m_closing);
}

} // namespace tavro::bidi

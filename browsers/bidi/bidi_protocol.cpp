#include "browsers/bidi/bidi_protocol.h"

#include "browsers/mirror/page_model.h"
#include "platform/error.h"

namespace tavro::bidi {

void BidiProtocol::start(Channel& c, browsers::PageMirror& mirror) {
    m_mirror = &mirror;
    m_stage = Stage::Starting;
    m_treeAsked = false;
    m_frames.clear();
    m_openers.clear();
    m_probes.clear();
    c.onEvent = [this, &c](const Json& event) { hear(c, event); };
    // A prompt left alone keeps its page answering scripts: with any other
    // behaviour a page in alert() would stay unexamined until the user answers.
    const Json capabilities = {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}};
    m_session = Grant::Asked;
    c.send("session.new", {{"capabilities", capabilities}}, {},
           [this, &c](const Json& answer) { sessionAnswered(c, answer); });
}

void BidiProtocol::sessionAnswered(Channel& c, const Json& answer) {
    if (answer.contains("error")) {
        // Another client holds Firefox's one session.
        m_session = Grant::None;
        m_stage = Stage::Refused;
        return;
    }
    const bool lateAnswer = m_session == Grant::Ending;
    m_session = Grant::Held;
    if (lateAnswer)
        return; // finish() ends it
    // Every event of the module, so that any change to a page (a new page, an
    // address, a page gone) is told of. Firefox tells of pages from the moment
    // it takes the subscription, but confirms it only once every page's process
    // has taken it too, which a page whose script loops never does: the list is
    // read at once, not after the confirmation.
    c.send("session.subscribe", {{"events", Json::array({"browsingContext"})}}, {},
           [this](const Json& subscribed) {
               if (subscribed.contains("error"))
                   m_stage = Stage::Refused;
           });
    readTree(c);
}

// The events tell of every change from the subscription on; the list read
// after it gives what was there before.
void BidiProtocol::readTree(Channel& c) {
    if (m_treeAsked)
        return;
    m_treeAsked = true;
    c.send("browsingContext.getTree", {{"maxDepth", 0}}, {}, [this, &c](Json answer) {
        m_treeAsked = false;
        std::vector<ContextInfo> contexts;
        try {
            contexts = contextsOf(wire::resultOf(std::move(answer)));
        } catch (const Error&) {
            m_stage = Stage::Refused;
            return;
        }
        m_mirror->startOver();
        m_frames.clear();
        m_openers.clear();
        for (const auto& [id, asked] : m_probes)
            c.forget(asked);
        m_probes.clear();
        for (const ContextInfo& context : contexts)
            appeared(c, context);
        m_stage = Stage::Serving;
    });
}

void BidiProtocol::hear(Channel& c, const Json& event) {
    std::optional<ContextEvent> told = contextEventOf(event);
    if (!told || m_stage != Stage::Serving)
        return;
    const ContextInfo& context = told->context;
    if (told->kind == ContextEvent::Kind::Created) {
        if (!context.parent.empty())
            m_frames.insert(context.id);
        else
            appeared(c, context);
        return;
    }
    if (told->kind == ContextEvent::Kind::Destroyed) {
        if (m_frames.erase(context.id) > 0)
            return;
        if (const auto asked = m_probes.find(context.id); asked != m_probes.end()) {
            c.forget(asked->second);
            m_probes.erase(asked);
        }
        m_openers.erase(context.id);
        m_mirror->pageGone(context.id);
        return;
    }
    if (m_frames.contains(context.id))
        return;
    // News of a page never told of: some news went missing.
    if (!m_mirror->knows(context.id)) {
        readTree(c);
        return;
    }
    if (told->kind == ContextEvent::Kind::Navigating) {
        m_mirror->loading(context.id, context.url);
        return;
    }
    const bool probes = openedByScript(context.id);
    if (m_mirror->navigated(context.id, context.url, probes) && probes)
        probe(c, context.id, context.url);
}

// Firefox names each page's window as it tells of the page.
void BidiProtocol::appeared(Channel& c, const ContextInfo& context) {
    m_openers[context.id] = context.openerId;
    const bool probes = openedByScript(context.id);
    m_mirror->appeared(context.id, context.url, context.openerId, probes,
                       context.window.empty() ? std::nullopt
                                              : std::optional<std::optional<std::string>>(context.window));
    if (context.window.empty())
        askWindow(c, context.id);
    if (probes)
        probe(c, context.id, context.url);
}

// Only pages opened by script are probed: the scan leaves a page no script
// opened alone whatever it shows. Firefox names the opener even of a page
// opened with noopener, so whether the page can still reach it is the page's
// own to say, with the kind of its document.
bool BidiProtocol::openedByScript(const std::string& id) const {
    const auto opener = m_openers.find(id);
    return opener != m_openers.end() && !opener->second.empty();
}

void BidiProtocol::askWindow(Channel& c, const std::string& id) {
    m_mirror->windowAsked(id);
    c.send("browsingContext.getTree", {{"root", id}, {"maxDepth", 0}}, {}, [this, id](Json answer) {
        std::optional<std::string> window;
        try {
            const auto contexts = contextsOf(wire::resultOf(std::move(answer)));
            if (!contexts.empty() && !contexts.front().window.empty())
                window = contexts.front().window;
        } catch (const Error&) {
        }
        m_mirror->windowNamed(id, window);
    });
}

void BidiProtocol::probe(Channel& c, const std::string& id, const std::string& url) {
    if (const auto asked = m_probes.find(id); asked != m_probes.end())
        c.forget(asked->second);
    m_probes[id] =
        c.send("script.evaluate",
               {{"expression", PageQuestion},
                {"target", {{"context", id}}},
                {"awaitPromise", false},
                {"resultOwnership", "none"}},
               {}, [this, id, url](const Json& answer) {
                   m_probes.erase(id);
                   const auto page = pageAnswerOf(answer);
                   m_mirror->probeAnswered(
                       id, url,
                       page ? std::optional<bool>(browsers::isHtmlMimeType(page->contentType)) : std::nullopt,
                       page ? std::optional<bool>(page->opener) : std::nullopt);
               });
}

bool BidiProtocol::keepAlive(Channel& c) {
    c.post("session.status");
    return true;
}

void BidiProtocol::close(Channel& c, const std::string& page) {
    c.post("browsingContext.close", {{"context", page}});
}

void BidiProtocol::open(Channel& c, const std::string& url) {
    c.send("browsingContext.create", {{"type", "window"}}, {}, [&c, url](const Json& answer) {
        const std::string context = createdContextOf(answer);
        if (!context.empty())
            c.post("browsingContext.navigate", {{"context", context}, {"url", url}, {"wait", "none"}});
    });
}

bool BidiProtocol::finish(Channel& c) {
    switch (m_session) {
    case Grant::None:
        return true;
    case Grant::Asked:
        // The answer may still bring a session; it is ended when it comes.
        m_session = Grant::Ending;
        return false;
    case Grant::Ending:
        return false;
    case Grant::Held:
        m_session = Grant::Ending;
        c.send("session.end", Json::object(), {}, [this](const Json&) { m_session = Grant::None; });
        return false;
    }
    return true;
}

} // namespace tavro::bidi

#include "browsers/devtools/devtools_protocol.h"

#include "browsers/mirror/page_model.h"

namespace tavro::devtools {

namespace {

// A held page's first request: a document, before it is sent.
const Json FirstDocument = {
    {"patterns",
     Json::array({{{"urlPattern", "*"}, {"resourceType", "Document"}, {"requestStage", "Request"}}})}};

std::string methodOf(const Json& event) {
    const auto method = event.find("method");
    return method != event.end() && method->is_string() ? method->get<std::string>() : std::string();
}

} // namespace

void DevToolsProtocol::start(Channel& c, browsers::PageMirror& mirror) {
    m_mirror = &mirror;
    m_probes.clear();
    m_targetOf.clear();
    m_sessionOf.clear();
    m_held.clear();
    m_stage = Stage::Starting;
    mirror.startOver();
    c.onEvent = [this, &c](const Json& event) { hear(c, event); };
    // The browser then tells of every page it has, and of each change after.
    // Only its answer proves the peer a browser, and only then does its place
    // stop resting longer after each failure.
    c.send("Target.setDiscoverTargets", {{"discover", true}}, {}, [this](const Json& answer) {
        m_stage = answer.contains("error") ? Stage::Refused : Stage::Serving;
    });
    // A browser that will not hold new pages is watched as before: its
    // pop-ups are closed once they load.
    c.post("Target.setAutoAttach",
           {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}});
}

void DevToolsProtocol::hear(Channel& c, Json event) {
    if (!event.is_object())
        return;
    const std::string method = methodOf(event);
    if (method == "Target.attachedToTarget" || method == "Target.detachedFromTarget" ||
        method == "Fetch.requestPaused") {
        Json& params = event["params"];
        if (method == "Target.attachedToTarget")
            attached(c, params);
        else if (method == "Target.detachedFromTarget")
            detached(params);
        else if (const auto session = event.find("sessionId"); session != event.end() && session->is_string())
            paused(c, session->get<std::string>(), params);
        return;
    }
    std::optional<TargetEvent> told = targetEventOf(std::move(event));
    if (!told)
        return;
    const TargetInfo& page = told->page;
    switch (told->kind) {
    case TargetEvent::Kind::Created:
        appeared(c, page);
        break;
    case TargetEvent::Kind::Changed: {
        // A page rendered ahead of a navigation becomes one the user sees.
        if (!m_mirror->knows(page.id)) {
            appeared(c, page);
            break;
        }
        const bool probes = probed(page);
        const bool moved = m_mirror->navigated(page.id, page.url, probes);
        m_mirror->reachesOpener(page.id, page.canAccessOpener);
        if (moved && probes)
            probe(c, page);
        break;
    }
    case TargetEvent::Kind::Destroyed:
        forgetProbe(c, page.id);
        m_held.erase(page.id);
        m_mirror->pageGone(page.id);
        break;
    }
}

// Every page's window is asked, not only those opened by script: whether a
// pop-up is alone in its window depends on its neighbours.
void DevToolsProtocol::appeared(Channel& c, const TargetInfo& page) {
    const bool probes = probed(page);
    m_mirror->appeared(page.id, page.url, page.openerId, probes);
    m_mirror->reachesOpener(page.id, page.canAccessOpener);
    askWindow(c, page.id);
    if (probes)
        probe(c, page);
}

void DevToolsProtocol::askWindow(Channel& c, const std::string& id) {
    m_mirror->windowAsked(id);
    c.send("Browser.getWindowForTarget", {{"targetId", id}}, {}, [this, id](Json answer) {
        const auto window = windowOf(std::move(answer));
        m_mirror->windowNamed(id,
                              window ? std::optional<std::string>(std::to_string(*window)) : std::nullopt);
    });
}

// Only a page a script opened and can still reach is probed: the scan leaves
// every other page alone whatever it shows, and going into every tab of a
// large browser would cost it for nothing. Nor is a page with no address yet
// (one held before its first request): it has no document to ask about.
bool DevToolsProtocol::probed(const TargetInfo& page) {
    return !page.openerId.empty() && page.canAccessOpener && !page.url.empty();
}

void DevToolsProtocol::probe(Channel& c, const TargetInfo& page) {
    Probe& asked = m_probes[page.id];
    asked.url = page.url;
    if (asked.frameTreeId != 0) {
        c.forget(asked.frameTreeId);
        asked.frameTreeId = 0;
    }
    if (asked.session.empty()) {
        // The browser attached the program to the page already, as it does
        // to every page it has holds for.
        if (const auto session = m_sessionOf.find(page.id); session != m_sessionOf.end())
            asked.session = session->second;
    }
    if (!asked.session.empty()) {
        askFrameTree(c, page.id);
        return;
    }
    if (asked.attachId != 0)
        return; // the frame tree follows the attach, at the address of the time
    const std::string id = page.id;
    asked.attachId = c.send("Target.attachToTarget", {{"targetId", id}, {"flatten", true}}, {},
                            [this, &c, id](Json answer) {
                                Probe& probe = m_probes[id];
                                probe.attachId = 0;
                                probe.session = sessionOf(std::move(answer));
                                probe.own = true;
                                if (probe.session.empty()) {
                                    m_mirror->probeAnswered(id, probe.url, std::nullopt);
                                    m_probes.erase(id);
                                    return;
                                }
                                askFrameTree(c, id);
                            });
}

void DevToolsProtocol::askFrameTree(Channel& c, const std::string& id) {
    Probe& asked = m_probes[id];
    const std::string url = asked.url;
    asked.frameTreeId =
        c.send("Page.getFrameTree", Json::object(), asked.session, [this, &c, id, url](Json answer) {
            const auto mimeType = mimeTypeOf(std::move(answer));
            m_mirror->probeAnswered(
                id, url, mimeType ? std::optional<bool>(browsers::isHtmlMimeType(*mimeType)) : std::nullopt);
            // Stay attached no longer than the question takes.
            Probe& probe = m_probes[id];
            probe.frameTreeId = 0;
            if (probe.own)
                c.post("Target.detachFromTarget", {{"sessionId", probe.session}});
            m_probes.erase(id);
        });
}

void DevToolsProtocol::forgetProbe(Channel& c, const std::string& id) {
    const auto asked = m_probes.find(id);
    if (asked == m_probes.end())
        return;
    c.forget(asked->second.attachId);
    c.forget(asked->second.frameTreeId);
    m_probes.erase(asked);
}

// Only a page opened by script that can reach its opener can be a pop-up;
// every other new target goes on at once. Such a page runs up to its first
// document request, which the browser then holds: the request tells the
// address, which the page has not got yet. A page that an earlier connection
// left waiting (a program killed at that moment) is told as not waiting when
// the program connects again, yet waits on: every page is told to run.
void DevToolsProtocol::attached(Channel& c, Json& params) {
    const auto target = attachedOf(params);
    if (!target)
        return;
    m_targetOf[target->session] = target->targetId;
    m_sessionOf[target->targetId] = target->session;
    const auto& page = target->page;
    if (target->waiting && page && !page->openerId.empty() && page->canAccessOpener &&
        m_mirror->news().judged()) {
        m_held[page->id] = Hold{target->session, {}, browsers::Clock::now()};
        c.post("Fetch.enable", FirstDocument, target->session);
    }
    c.post("Runtime.runIfWaitingForDebugger", Json::object(), target->session);
}

void DevToolsProtocol::detached(Json& params) {
    if (!params.is_object())
        return;
    const auto session = params.find("sessionId");
    if (session == params.end() || !session->is_string())
        return;
    const auto target = m_targetOf.find(session->get<std::string>());
    if (target == m_targetOf.end())
        return;
    m_sessionOf.erase(target->second);
    m_held.erase(target->second);
    m_targetOf.erase(target);
}

void DevToolsProtocol::paused(Channel& c, const std::string& session, Json& params) {
    const auto request = pausedRequestOf(params);
    if (!request)
        return;
    const auto target = m_targetOf.find(session);
    const auto hold = target == m_targetOf.end() ? m_held.end() : m_held.find(target->second);
    // Only the page's own first document is judged; a frame's goes on.
    if (hold == m_held.end() || !hold->second.requestId.empty() || request->frameId != hold->first) {
        c.post("Fetch.continueRequest", {{"requestId", request->requestId}}, session);
        return;
    }
    hold->second.requestId = request->requestId;
    hold->second.since = browsers::Clock::now();
    m_mirror->held(hold->first, request->url);
}

void DevToolsProtocol::letGo(Channel& c, const std::string& id, const Hold& hold) {
    if (!hold.requestId.empty())
        c.post("Fetch.continueRequest", {{"requestId", hold.requestId}}, hold.session);
    c.post("Fetch.disable", Json::object(), hold.session);
    m_mirror->released(id);
}

void DevToolsProtocol::release(Channel& c, const std::string& page) {
    const auto hold = m_held.find(page);
    if (hold == m_held.end())
        return;
    letGo(c, hold->first, hold->second);
    m_held.erase(hold);
}

void DevToolsProtocol::releaseAll(Channel& c) {
    for (const auto& [id, hold] : m_held)
        letGo(c, id, hold);
    m_held.clear();
}

// A verdict that has not come in time (a window thread that has stalled)
// is not waited for: the page loads, and is closed after if it must be.
std::optional<browsers::Clock::time_point> DevToolsProtocol::turn(Channel& c,
                                                                  browsers::Clock::time_point now) {
    std::optional<browsers::Clock::time_point> next;
    for (auto hold = m_held.begin(); hold != m_held.end();) {
        const auto due = hold->second.since + m_holdFor;
        if (due <= now) {
            letGo(c, hold->first, hold->second);
            hold = m_held.erase(hold);
            continue;
        }
        if (!next || due < *next)
            next = due;
        ++hold;
    }
    return next;
}

bool DevToolsProtocol::finish(Channel& c) {
    releaseAll(c);
    return true;
}

bool DevToolsProtocol::keepAlive(Channel& c) {
    c.post("Browser.getVersion");
    return true;
}

// A held page closed never sends its request.
void DevToolsProtocol::close(Channel& c, const std::string& page) {
    m_held.erase(page);
    c.post("Target.closeTarget", {{"targetId", page}});
}

void DevToolsProtocol::open(Channel& c, const std::string& url) {
    c.post("Target.createTarget", {{"url", url}, {"newWindow", true}});
}

} // namespace tavro::devtools

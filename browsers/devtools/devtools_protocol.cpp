#include "browsers/devtools/devtools_protocol.h"

#include "browsers/mirror/page_model.h"

namespace tavro::devtools {

void DevToolsProtocol::start(Channel& c, browsers::PageMirror& mirror) {
    m_mirror = &mirror;
    m_probes.clear();
    m_stage = Stage::Starting;
    mirror.startOver();
    c.onEvent = [this, &c](const Json& event) { hear(c, event); };
    // The browser then tells of every page it has, and of each change after.
    // Only its answer proves the peer a browser, and only then does its place
    // stop resting longer after each failure.
    c.send("Target.setDiscoverTargets", {{"discover", true}}, {}, [this](const Json& answer) {
        m_stage = answer.contains("error") ? Stage::Refused : Stage::Serving;
    });
}

void DevToolsProtocol::hear(Channel& c, Json event) {
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
// large browser would cost it for nothing.
bool DevToolsProtocol::probed(const TargetInfo& page) {
    return !page.openerId.empty() && page.canAccessOpener;
}

void DevToolsProtocol::probe(Channel& c, const TargetInfo& page) {
    Probe& asked = m_probes[page.id];
    asked.url = page.url;
    if (asked.frameTreeId != 0) {
        c.forget(asked.frameTreeId);
        asked.frameTreeId = 0;
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

bool DevToolsProtocol::keepAlive(Channel& c) {
    c.post("Browser.getVersion");
    return true;
}

void DevToolsProtocol::close(Channel& c, const std::string& page) {
    c.post("Target.closeTarget", {{"targetId", page}});
}

void DevToolsProtocol::open(Channel& c, const std::string& url) {
    c.post("Target.createTarget", {{"url", url}, {"newWindow", true}});
}

} // namespace tavro::devtools

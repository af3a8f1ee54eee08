#include "platform/cdp/page_announcements.h"

#include "platform/cdp/answers.h"

#include <utility>

namespace tavro::cdp {

namespace {

std::string destroyedTarget(const Json& event) {
    const auto method = event.find("method");
    if (method == event.end() || *method != "Target.targetDestroyed")
        return {};
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return {};
    const auto id = params->find("targetId");
    return id != params->end() && id->is_string() ? id->get<std::string>() : std::string();
}

} // namespace

PageAnnouncements::PageAnnouncements(std::shared_ptr<BrowserLink> link)
    : PageNews([link] { return link->openConnection(); }), m_link(std::move(link)) {
    m_link->onConnected = [this](Connection& c) { listenOn(c); };
}

PageAnnouncements::~PageAnnouncements() {
    m_link->onConnected = nullptr;
    if (Connection* c = m_link->openConnection()) {
        c->onEvent = nullptr;
        c->onClosed = nullptr;
    }
}

void PageAnnouncements::listenOn(Connection& c) {
    c.onClosed = [this] { tell(); };
    if (!muted()) {
        c.onEvent = [this](const Json& event) { hear(event); };
        c.post("Target.setDiscoverTargets", {{"discover", true}});
    }
    startOver();
}

void PageAnnouncements::hear(const Json& event) {
    if (const std::string gone = destroyedTarget(event); !gone.empty())
        forgetPage(gone);
    else if (const auto page = announcedPage(event))
        heardAddress(page->id, page->url);
}

} // namespace tavro::cdp

#include "platform/bidi/context_events.h"

#include <utility>

namespace tavro::bidi {

namespace {

constexpr const char* BlankAddress = "about:blank";

} // namespace

ContextEvents::ContextEvents(std::shared_ptr<SessionLink> link)
    : PageNews([link] { return link->openConnection(); }), m_link(std::move(link)) {
    m_link->onConnected = [this](Connection& c) { listenOn(c); };
}

ContextEvents::~ContextEvents() {
    m_link->onConnected = nullptr;
    if (Connection* c = m_link->openConnection()) {
        c->onEvent = nullptr;
        c->onClosed = nullptr;
    }
}

// Every event of the module, so that any change to a page's list entry
// (a new page, an address, a page gone) is told of.
void ContextEvents::listenOn(Connection& c) {
    m_loading.clear();
    m_scripted.clear();
    m_subscribed = false;
    changed();
    c.onClosed = [this] { tell(); };
    c.onEvent = [this](const Json& event) { hear(event); };
    m_subscription = c.send("session.subscribe", {{"events", Json::array({"browsingContext"})}});
    startOver();
}

bool ContextEvents::toldOfEveryChange(Connection& c) {
    if (m_subscription != 0) {
        if (const std::optional<Json> answer = c.take(m_subscription)) {
            m_subscribed = stringField(*answer, "type") == "success";
            m_subscription = 0;
        }
    }
    return m_subscribed;
}

void ContextEvents::hear(const Json& event) {
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return;
    const std::string method = stringField(event, "method");
    changed();
    const std::string context = stringField(*params, "context");
    if (context.empty())
        return;
    if (method == "browsingContext.contextCreated") {
        // Only a top-level page that a script opened can be a pop-up.
        if (!stringField(*params, "originalOpener").empty() && stringField(*params, "parent").empty())
            m_scripted.insert(context);
        heardOf(context, stringField(*params, "url"));
    } else if (method == "browsingContext.navigationStarted") {
        m_loading[context] = stringField(*params, "url");
        heardOf(context, m_loading[context]);
    } else if (method == "browsingContext.load") {
        m_loading.erase(context);
        heardOf(context, stringField(*params, "url"));
    } else if (method == "browsingContext.contextDestroyed") {
        m_loading.erase(context);
        m_scripted.erase(context);
        forgetPage(context);
    }
}

void ContextEvents::heardOf(const std::string& context, const std::string& url) {
    if (m_scripted.contains(context))
        heardAddress(context, url);
}

const std::string& ContextEvents::addressOf(const std::string& id, const std::string& listed) const {
    if (listed != BlankAddress)
        return listed;
    const auto loading = m_loading.find(id);
    return loading == m_loading.end() || loading->second.empty() ? listed : loading->second;
}

void ContextEvents::keepOnly(const std::set<std::string>& present) {
    std::erase_if(m_loading, [&](const auto& entry) { return !present.contains(entry.first); });
}

} // namespace tavro::bidi

#include "platform/bidi/context_events.h"

namespace tavro::bidi {

namespace {

constexpr const char* BlankAddress = "about:blank";

std::string textField(const Json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

ContextEvents::ContextEvents(std::shared_ptr<SessionLink> link) : m_link(std::move(link)) {
    m_link->onConnected = [this](Connection& c) { listenOn(c); };
}

ContextEvents::~ContextEvents() {
    m_link->onConnected = nullptr;
    if (Connection* c = m_link->openConnection())
        c->onEvent = nullptr;
}

void ContextEvents::listenOn(Connection& c) {
    m_loading.clear();
    c.onEvent = [this](const Json& event) { hear(event); };
    c.post("session.subscribe",
           {{"events", Json::array({"browsingContext.contextCreated", "browsingContext.navigationStarted",
                                    "browsingContext.load", "browsingContext.contextDestroyed"})}});
}

void ContextEvents::hear(const Json& event) {
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return;
    const std::string method = textField(event, "method");
    const std::string context = textField(*params, "context");
    if (context.empty())
        return;
    if (method == "browsingContext.navigationStarted")
        m_loading[context] = textField(*params, "url");
    else if (method == "browsingContext.load" || method == "browsingContext.contextDestroyed")
        m_loading.erase(context);
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

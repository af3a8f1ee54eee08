#pragma once

#include "platform/bidi/session_link.h"

#include <map>
#include <memory>
#include <set>
#include <string>

namespace tavro::bidi {

// What Firefox tells of its pages between questions, asked for on every new
// session. A navigation names the address being loaded as it starts, while
// the list of pages shows a new page as about:blank until its first document
// arrives: with this, the walk knows a new pop-up's address as early as
// Firefox does.
class ContextEvents final {
public:
    explicit ContextEvents(std::shared_ptr<SessionLink> link);
    ~ContextEvents();
    ContextEvents(const ContextEvents&) = delete;
    ContextEvents& operator=(const ContextEvents&) = delete;

    // The address a page shows: the one it is loading while the list still
    // shows it blank, else the listed one.
    const std::string& addressOf(const std::string& id, const std::string& listed) const;
    // Forgets pages that are gone (and frames, which the walk never asks about).
    void keepOnly(const std::set<std::string>& present);

private:
    void listenOn(Connection& c);
    void hear(const Json& event);

    std::shared_ptr<SessionLink> m_link;
    // The address each page started loading, until its document arrives.
    std::map<std::string, std::string> m_loading;
};

} // namespace tavro::bidi

#pragma once

#include "platform/bidi/session_link.h"
#include "platform/browsers/page_news.h"

#include <map>
#include <memory>
#include <set>
#include <string>

namespace tavro::bidi {

// What Firefox tells of its pages between questions, asked for on every new
// session. A navigation names the address being loaded as it starts, while
// the list of pages shows a new page as about:blank until its first document
// arrives: with this, the walk knows a new pop-up's address as early as
// Firefox does, and a page opened by script getting or changing its address
// is news.
class ContextEvents final : public browsers::PageNews {
public:
    explicit ContextEvents(std::shared_ptr<SessionLink> link);
    ~ContextEvents() override;
    ContextEvents(const ContextEvents&) = delete;
    ContextEvents& operator=(const ContextEvents&) = delete;

    // The address a page shows: the one it is loading while the list still
    // shows it blank, else the listed one.
    const std::string& addressOf(const std::string& id, const std::string& listed) const;
    // Forgets pages that are gone (and frames, which the walk never asks about).
    void keepOnly(const std::set<std::string>& present);

    // True once Firefox has agreed to tell of every change to its pages.
    bool toldOfEveryChange(Connection& c);
    // Goes up with every change told of, or made by the program: a list of
    // pages asked for at one count is current while the count stays.
    unsigned long changes() const { return m_changes; }
    // A page the program asked to close changes the list too.
    void changed() { ++m_changes; }

private:
    void listenOn(Connection& c);
    void hear(const Json& event);
    void heardOf(const std::string& context, const std::string& url);

    std::shared_ptr<SessionLink> m_link;
    // The address each page started loading, until its document arrives.
    std::map<std::string, std::string> m_loading;
    // The top-level pages a script opened: only they can be pop-ups.
    std::set<std::string> m_scripted;
    // The request for events, until Firefox has answered it.
    long m_subscription = 0;
    bool m_subscribed = false;
    unsigned long m_changes = 1;
};

} // namespace tavro::bidi

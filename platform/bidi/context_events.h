#pragma once

#include "platform/bidi/session_link.h"
#include "platform/browser.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace tavro::bidi {

// What Firefox tells of its pages between questions, asked for on every new
// session. A navigation names the address being loaded as it starts, while
// the list of pages shows a new page as about:blank until its first document
// arrives: with this, the walk knows a new pop-up's address as early as
// Firefox does. News is a page opened by script getting an address with a
// host, or changing it: a page without one has nothing to scan yet.
class ContextEvents final : public BrowserNews {
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

    void setListener(std::function<void()> listener) override { m_listener = std::move(listener); }
    int watchHandle() override;
    void readArrived() override;
    bool takeNews() override;

    // Stops asking new sessions for news, as a browser that tells none; the
    // events the walk needs are still asked for.
    void mute() { m_muted = true; }

private:
    void listenOn(Connection& c);
    void hear(const Json& event);
    void heardAddress(const std::string& context, const std::string& url);
    void tell();

    std::shared_ptr<SessionLink> m_link;
    std::function<void()> m_listener;
    // The address each page started loading, until its document arrives.
    std::map<std::string, std::string> m_loading;
    // The last address heard of each page opened by script, as a hash: an
    // address may be megabytes long.
    std::map<std::string, std::size_t> m_scripted;
    bool m_news = false;
    bool m_muted = false;
    // The request for events, until Firefox has answered it.
    long m_subscription = 0;
    bool m_subscribed = false;
    unsigned long m_changes = 1;
};

} // namespace tavro::bidi

#pragma once

#include "platform/bidi/context_events.h"
#include "platform/bidi/session_link.h"
#include "platform/browser.h"
#include "platform/browsers/page_model.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::bidi {

using browsers::PageRecord;

// Firefox's top-level pages, in Firefox's own order, as the popup scan's
// collection of open windows.
class PageCollection final : public ShellWindows {
public:
    PageCollection(std::shared_ptr<SessionLink> link, std::shared_ptr<ContextEvents> events)
        : m_link(std::move(link)), m_events(std::move(events)) {}

    // Asks Firefox for its pages and learns what it needs to know about the
    // new ones; raises an Error when no Firefox answers.
    std::unique_ptr<WindowWalk> walk() override;

private:
    struct Context {
        std::string id;
        std::string url;
        // The page whose script opened this one, even when it cannot reach it.
        std::string openerId;
        std::string window;
    };
    // What is kept about a page from one tick to the next: only facts that do
    // not change while the page lives, or that belong to the address it shows.
    struct Known {
        // Whether the page can reach its opener, once it has said so.
        std::optional<bool> opener;
        // The address the document kind was read for, and the kind.
        std::string kindUrl;
        std::optional<bool> html;
        // The question out to the page, and the address it was asked at.
        long probeId = 0;
        std::string probeUrl;
        // Whether the page sits in a pop-up window; decided at first sight.
        std::optional<bool> popup;
    };

    std::vector<Context> readContexts(Connection& c);
    const std::vector<Context>& currentContexts(Connection& c);
    void forgetGone(Connection& c, const std::vector<Context>& contexts);
    void decidePopups(const std::vector<Context>& contexts);
    std::vector<long> probePages(Connection& c, const std::vector<Context>& contexts);
    void collectAnswers(Connection& c);
    void finishProbe(Known& known, const Json& answer);
    PageRecord recordOf(const Context& context);

    std::shared_ptr<SessionLink> m_link;
    std::shared_ptr<ContextEvents> m_events;
    unsigned m_generation = 0;
    std::map<std::string, Known> m_known;
    // Firefox's list as last sent, and the count of changes it was asked at.
    std::vector<Context> m_contexts;
    unsigned long m_listedAt = 0;
    std::shared_ptr<browsers::ClosingPages> m_closing = std::make_shared<browsers::ClosingPages>();
    // Shared with the walk handed out, which reads the records in place.
    browsers::PageRecords m_lastWalk;
};

} // namespace tavro::bidi

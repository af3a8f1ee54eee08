#pragma once

#include "platform/browser.h"
#include "platform/browsers/page_model.h"
#include "platform/cdp/answers.h"
#include "platform/cdp/browser_link.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::cdp {

using browsers::isHtmlMimeType;
using browsers::PageRecord;
using browsers::PageRecords;

// The browser's pages, in the browser's own order, as the popup scan's
// collection of open windows.
class PageCollection final : public ShellWindows {
public:
    explicit PageCollection(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}

    // Asks the browser for its pages and learns what it needs to know about
    // the new ones; raises an Error when no browser answers.
    std::unique_ptr<WindowWalk> walk() override;

    // The records of the last walk, in order (for tests and benchmarks).
    const PageRecords& lastWalk() const { return m_lastWalk; }

private:
    using Target = TargetInfo;
    // What is kept about a page from one tick to the next: only facts that do
    // not change while the page lives, or that belong to the address it shows.
    struct Known {
        // The address the document kind was read for, and the kind.
        std::string kindUrl;
        std::optional<bool> html;
        // A question to the page that has not been answered yet.
        std::string probeUrl;
        std::string session;
        long attachId = 0;
        long frameTreeId = 0;
        // Whether the page sits in a pop-up window; decided once, as soon as
        // the browser has named its window and its opener's.
        std::optional<bool> popup;
    };

    std::vector<Target> readTargets(Connection& c);
    void forgetGone(Connection& c, const std::vector<Target>& targets);
    void collectAnswers(Connection& c);
    // The windows asked about, for the pages opened by script whose kind of
    // window is not decided yet.
    struct WindowAsks {
        std::vector<const Target*> undecided;
        std::map<std::string, long> ids;
    };

    // Learns, in four phases, what the walk needs to know about new pages.
    void learn(Connection& c, const std::vector<Target>& targets);
    WindowAsks askWindows(Connection& c, const std::vector<Target>& targets);
    std::vector<long> probeDocumentKinds(Connection& c, const std::vector<Target>& targets);
    void awaitAnswers(Connection& c, std::vector<long> browserIds);
    void decidePopups(Connection& c, const std::vector<Target>& targets, const WindowAsks& asks);
    void finishProbe(Connection& c, Known& known, Json answer);
    // Keeps what the walk hands out, the addresses moved in.
    void record(std::vector<Target> targets);

    std::shared_ptr<BrowserLink> m_link;
    unsigned m_generation = 0;
    // The list of pages asked for and not yet taken.
    long m_listId = 0;
    std::shared_ptr<browsers::ClosingPages> m_closing = std::make_shared<browsers::ClosingPages>();
    std::map<std::string, Known> m_known;
    // Shared with the walk handed out, which reads the records in place.
    PageRecords m_lastWalk;
};

} // namespace tavro::cdp

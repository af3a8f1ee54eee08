#pragma once

#include "platform/browser.h"
#include "platform/cdp/answers.h"
#include "platform/cdp/browser_link.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::cdp {

// What one walk learnt about a page. The walk answers from this for the rest
// of the tick, so a page asked to close keeps giving its last answers.
struct PageRecord {
    std::string targetId;
    std::string url;
    // A script of another page opened this one and can still reach it.
    bool opener = false;
    // Unknown while the page has not answered (alert(), an endless script),
    // and for a page no script opened, which is never asked.
    std::optional<bool> html;
    // Unknown while the browser has not said in which window the page is, or
    // in which window its opener is; the page then reads as showing its menu
    // bar.
    std::optional<bool> menuBar;
};

// The pages asked to close, with the moment they were asked.
using ClosingPages = std::map<std::string, Clock::time_point>;

// True for the MIME types the browser shows as an HTML document: HTML itself,
// and the text, images and media it wraps in one; false for SVG and XML.
bool isHtmlMimeType(const std::string& mimeType);

// The browser's pages, in the browser's own order, as the popup scan's
// collection of open windows.
class PageCollection final : public ShellWindows {
public:
    explicit PageCollection(std::shared_ptr<BrowserLink> link) : m_link(std::move(link)) {}

    // Asks the browser for its pages and learns what it needs to know about
    // the new ones; raises an Error when no browser answers.
    std::unique_ptr<WindowWalk> walk() override;

    // The records of the last walk, in order (for tests and benchmarks).
    std::vector<PageRecord> lastWalk() const;

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
    bool closing(const std::string& id);

    std::shared_ptr<BrowserLink> m_link;
    unsigned m_generation = 0;
    // The list of pages asked for and not yet taken.
    long m_listId = 0;
    static constexpr std::chrono::milliseconds ClosingGrace{1000};
    std::shared_ptr<ClosingPages> m_closing = std::make_shared<ClosingPages>();
    std::map<std::string, Known> m_known;
    // Shared with the walk handed out, which reads the records in place.
    std::vector<std::shared_ptr<const PageRecord>> m_lastWalk;
};

} // namespace tavro::cdp

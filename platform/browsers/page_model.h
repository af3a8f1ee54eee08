#pragma once

#include "platform/browser.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What every browser adapter shares once it has learnt about the pages: the
// page records a walk answers from, and the rule that tells a pop-up window
// from a tab.
namespace tavro::browsers {

// What one walk learnt about a page. The walk answers from this for the rest
// of the tick, so a page asked to close keeps giving its last answers.
struct PageRecord {
    // The browser's own name for the page.
    std::string id;
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

// Asks the browser to close a page; the request is written and not waited for.
class PageCloser {
public:
    virtual ~PageCloser() = default;
    // Raises an Error when the browser has gone or does not take the request.
    virtual void close(const PageRecord& page) = 0;
};

// The records of one walk. Each is held on its own: an address may be
// megabytes long, it is not copied for every window handed out, and the window
// the scan keeps after its tick keeps only its own record alive.
using PageRecords = std::vector<std::shared_ptr<const PageRecord>>;

// The pages asked to close, passed over for a moment while the browser closes
// them: a scan that comes in that moment (one the browser's news brought
// about, right after a tick) must not find such a page again and sound a
// second tone. One the browser keeps (a page that asks before it unloads) is
// found again once the moment is over.
class ClosingPages final {
public:
    void asked(const std::string& id);
    bool closing(const std::string& id);
    void forget(const std::string& id) { m_asked.erase(id); }
    void clear() { m_asked.clear(); }

private:
    static constexpr std::chrono::milliseconds Grace{1000};
    std::map<std::string, std::chrono::steady_clock::time_point> m_asked;
};

// A walk over the records of one tick, in the order given; a page it closes
// is told to closing.
std::unique_ptr<WindowWalk> walkOver(PageRecords records, std::shared_ptr<PageCloser> closer,
                                     std::shared_ptr<ClosingPages> closing);

// True for the MIME types a browser shows as an HTML document: HTML itself,
// and the text, images and media it wraps in one; false for SVG and XML.
bool isHtmlMimeType(const std::string& mimeType);

// A page as the pop-up rule sees it: its browser window, when the browser has
// named it, and the page whose script opened it, if any.
struct PagePlace {
    std::string id;
    std::string openerId;
    std::optional<std::string> window;
};

// A pop-up opened with window features gets a browser window of its own; a
// tab opened by script shares its opener's window with other tabs. So a page
// opened by script is a pop-up when it is the only page in its window. A
// page beside it settles it as a tab; alone, it is a pop-up only once the
// browser has named its opener's window too, since an opener it would not
// name may be that neighbour. Other pages are not waited for: some never get
// a window, and waiting on them would let every pop-up through. Nothing while
// it cannot be told yet.
std::optional<bool> aloneInItsWindow(const PagePlace& page, const std::vector<PagePlace>& all);

} // namespace tavro::browsers

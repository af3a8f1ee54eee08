#pragma once

#include "platform/browser.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// What every browser adapter hands the scan: the page records a walk answers
// from, and the kinds of document that count as HTML.
namespace tavro::browsers {

// What the browser had told of a page when the walk began. The walk answers
// from this for the rest of the tick, so a page asked to close keeps giving
// its last answers.
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
    // The browser holds the page before its first request, until it is let go
    // or closed; it is judged by the address it is about to load, as the HTML
    // page that address almost always is. Set only once every other fact is in.
    bool held = false;
};

// Asks the browser to close a page; the request is written and not waited for.
class PageCloser {
public:
    virtual ~PageCloser() = default;
    // Raises an Error when the browser has gone or does not take the request.
    virtual void close(const PageRecord& page) = 0;
    // The walk over these records is over: a held page it left open is let go.
    virtual void walked(const std::vector<std::shared_ptr<const PageRecord>>& records) {
        static_cast<void>(records);
    }
};

// The records of one walk. Each is held on its own: an address may be
// megabytes long, it is not copied for every window handed out, and the window
// the scan keeps after its tick keeps only its own record alive.
using PageRecords = std::vector<std::shared_ptr<const PageRecord>>;

// A walk over the records of one tick, in the order given.
std::unique_ptr<WindowWalk> walkOver(PageRecords records, std::shared_ptr<PageCloser> closer);

// True for the MIME types a browser shows as an HTML document: HTML itself,
// and the text, images and media it wraps in one; false for SVG and XML.
bool isHtmlMimeType(const std::string& mimeType);

} // namespace tavro::browsers

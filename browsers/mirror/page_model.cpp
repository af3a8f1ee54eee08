#include "browsers/mirror/page_model.h"

#include "platform/error.h"

#include <algorithm>

namespace tavro::browsers {

// Where the scan's words meet a modern browser's pages. The scan speaks of
// windows as its first browser had them: a window's "document" with its
// "opener", its "LocationURL", whether it shows its "menu bar", "Quit". Here a
// window is a page (a tab, or the one page of a pop-up window); its document
// is what the page said of itself when probed; "menu bar" reads as "not alone
// in a window of its own", so a pop-up window shows none and a tab shows one;
// Quit asks the browser's thread to close the page. Ctrl's GetKeyState and a
// new window's Navigate2 meet the browsers in the key-state and the session's
// new-browser adapters the same way.
namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class PageDocument final : public Document {
public:
    explicit PageDocument(std::shared_ptr<const PageRecord> record) : m_record(std::move(record)) {}

    bool isHtml() const override {
        if (!m_record->html)
            throw Error(errc::AutomationError, m_record->opener ? "The page did not answer in time"
                                                                : "A page no script opened is not examined");
        return *m_record->html;
    }
    bool opener() override { return m_record->opener; }

private:
    std::shared_ptr<const PageRecord> m_record;
};

class PageWindow final : public BrowserWindow {
public:
    PageWindow(std::shared_ptr<PageCloser> closer, std::shared_ptr<const PageRecord> record)
        : m_closer(std::move(closer)), m_record(std::move(record)) {}

    // Every page has a document; what kind it is may still be unknown.
    std::shared_ptr<Document> document() override { return std::make_shared<PageDocument>(m_record); }
    std::string locationUrl() override { return m_record->url; }
    // Until the browser has said where the page is, it reads as an ordinary
    // window: a failure here would count as a pop-up and close it unasked,
    // even from an allowed domain. The next tick asks the browser again.
    bool menuBar() override { return m_record->menuBar.value_or(true); }
    // The page goes when the browser has closed it; until the tick ends it
    // keeps its answers.
    void quit() override { m_closer->close(*m_record); }

private:
    std::shared_ptr<PageCloser> m_closer;
    std::shared_ptr<const PageRecord> m_record;
};

class PageWalk final : public WindowWalk {
public:
    PageWalk(std::shared_ptr<PageCloser> closer, PageRecords records)
        : m_closer(std::move(closer)), m_records(std::move(records)) {}
    std::shared_ptr<BrowserWindow> next() override {
        if (m_next >= m_records.size()) {
            if (!m_over) {
                m_over = true;
                m_closer->walked(m_records);
            }
            return nullptr;
        }
        return std::make_shared<PageWindow>(m_closer, m_records[m_next++]);
    }

private:
    std::shared_ptr<PageCloser> m_closer;
    PageRecords m_records;
    std::size_t m_next = 0;
    bool m_over = false;
};

} // namespace

std::unique_ptr<WindowWalk> walkOver(PageRecords records, std::shared_ptr<PageCloser> closer) {
    return std::make_unique<PageWalk>(std::move(closer), std::move(records));
}

bool isHtmlMimeType(const std::string& mimeType) {
    std::string type = mimeType.substr(0, mimeType.find(';'));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char ch) { return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch); });
    if (type == "application/xhtml+xml")
        return true;
    return type != "text/xml" && type != "application/xml" && !endsWith(type, "+xml");
}

} // namespace tavro::browsers

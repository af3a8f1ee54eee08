#include "platform/browsers/page_model.h"

#include "platform/error.h"

#include <algorithm>

namespace tavro::browsers {

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
    PageWindow(std::shared_ptr<PageCloser> closer, std::shared_ptr<ClosingPages> closing,
               std::shared_ptr<const PageRecord> record)
        : m_closer(std::move(closer)), m_closing(std::move(closing)), m_record(std::move(record)) {}

    // Every page has a document; what kind it is may still be unknown.
    std::shared_ptr<Document> document() override { return std::make_shared<PageDocument>(m_record); }
    std::string locationUrl() override { return m_record->url; }
    // Until the browser has said where the page is, it reads as an ordinary
    // window: a failure here would count as a pop-up and close it unasked,
    // even from an allowed domain. The next tick asks the browser again.
    bool menuBar() override { return m_record->menuBar.value_or(true); }
    // The page goes when the browser has closed it; until the tick ends it
    // keeps its answers.
    void quit() override {
        m_closer->close(*m_record);
        m_closing->asked(m_record->id);
    }

private:
    std::shared_ptr<PageCloser> m_closer;
    std::shared_ptr<ClosingPages> m_closing;
    std::shared_ptr<const PageRecord> m_record;
};

class PageWalk final : public WindowWalk {
public:
    PageWalk(std::shared_ptr<PageCloser> closer, std::shared_ptr<ClosingPages> closing, PageRecords records)
        : m_closer(std::move(closer)), m_closing(std::move(closing)), m_records(std::move(records)) {}
    std::shared_ptr<BrowserWindow> next() override {
        if (m_next >= m_records.size())
            return nullptr;
        return std::make_shared<PageWindow>(m_closer, m_closing, m_records[m_next++]);
    }

private:
    std::shared_ptr<PageCloser> m_closer;
    std::shared_ptr<ClosingPages> m_closing;
    PageRecords m_records;
    std::size_t m_next = 0;
};

} // namespace

std::unique_ptr<WindowWalk> walkOver(PageRecords records, std::shared_ptr<PageCloser> closer,
                                     std::shared_ptr<ClosingPages> closing) {
    return std::make_unique<PageWalk>(std::move(closer), std::move(closing), std::move(records));
}

void ClosingPages::asked(const std::string& id) {
    m_asked.try_emplace(id, std::chrono::steady_clock::now());
}

bool ClosingPages::closing(const std::string& id) {
    const auto asked = m_asked.find(id);
    if (asked == m_asked.end())
        return false;
    if (std::chrono::steady_clock::now() - asked->second < Grace)
        return true;
    m_asked.erase(asked);
    return false;
}

bool isHtmlMimeType(const std::string& mimeType) {
    std::string type = mimeType.substr(0, mimeType.find(';'));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char ch) { return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch); });
    if (type == "application/xhtml+xml")
        return true;
    return type != "text/xml" && type != "application/xml" && !endsWith(type, "+xml");
}

std::optional<bool> aloneInItsWindow(const PagePlace& page, const std::vector<PagePlace>& all) {
    if (!page.window)
        return std::nullopt;
    bool openerUnnamed = false;
    for (const PagePlace& other : all) {
        if (other.id == page.id)
            continue;
        if (!other.window)
            openerUnnamed = openerUnnamed || other.id == page.openerId;
        else if (*other.window == *page.window)
            return false;
    }
    if (openerUnnamed)
        return std::nullopt;
    return true;
}

} // namespace tavro::browsers

#include "browsers/mirror/page_mirror.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tavro::browsers {

namespace {

// "scheme://host...": an address whose page has a domain to judge.
bool hasHost(const std::string& url) {
    const auto scheme = url.find("://");
    return scheme != std::string::npos && scheme + 3 < url.size() && url[scheme + 3] != '/';
}

} // namespace

MirrorNews::MirrorNews() : m_handle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

MirrorNews::~MirrorNews() {
    if (m_handle >= 0)
        ::close(m_handle);
}

void MirrorNews::setListener(std::function<void()> listener) {
    const std::lock_guard lock(m_listenerMutex);
    m_listener = std::move(listener);
}

void MirrorNews::tell() {
    if (m_muted)
        return;
    m_news = true;
    if (!m_signalled.exchange(true) && m_handle >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_handle, &one, sizeof one);
    }
}

void MirrorNews::readArrived() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_handle, &count, sizeof count);
    m_signalled = false;
    if (!m_news)
        return;
    std::function<void()> listener;
    {
        const std::lock_guard lock(m_listenerMutex);
        listener = m_listener;
    }
    if (listener)
        listener();
}

PageMirror::PageMirror(std::shared_ptr<MirrorNews> news, std::chrono::milliseconds answerTime)
    : m_news(std::move(news)), m_answerTime(answerTime) {}

void PageMirror::clear() {
    m_pages.clear();
    m_order.clear();
    m_pagesInWindow.clear();
    m_undecided.clear();
    m_windowsPending = 0;
    m_newThisSecond = 0;
    m_floodSeconds = 0;
    m_flooded = false;
}

void PageMirror::startOver() {
    {
        const std::lock_guard lock(m_mutex);
        clear();
        m_connected = true;
    }
    heardAt(MirrorClock::now());
    m_connectedChanged.notify_all();
}

void PageMirror::lost() {
    {
        const std::lock_guard lock(m_mutex);
        clear();
        m_connected = false;
    }
    m_connectedChanged.notify_all();
}

PageMirror::Page* PageMirror::find(const std::string& id) {
    const auto it = m_pages.find(id);
    return it == m_pages.end() ? nullptr : &it->second;
}

bool PageMirror::knows(const std::string& id) const {
    const std::lock_guard lock(m_mutex);
    return m_pages.contains(id);
}

std::optional<std::string> PageMirror::address(const std::string& id) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_pages.find(id);
    return it == m_pages.end() ? std::nullopt : std::optional<std::string>(it->second.url);
}

bool PageMirror::settled() const {
    const std::lock_guard lock(m_mutex);
    return m_windowsPending == 0 && std::none_of(m_pages.begin(), m_pages.end(), [](const auto& page) {
               return page.second.kind == Kind::Asked;
           });
}

// The record is made again at the next snapshot. Only a page a script opened
// can be a pop-up, and only one with a domain can be judged: anything else
// changing is no news. Nor is a page whose question about its document is
// still out: it reads as no pop-up until the answer comes or its time is up,
// and that is the news. A scan started before would find nothing to close and
// take the place of the one that can. News of a page that waits with its
// request for the verdict, whichever of its facts comes last, is judged
// without waiting out the pace of other news.
void PageMirror::changed(const std::string&, Page& page) {
    page.record.reset();
    if (page.openerId.empty() || !hasHost(page.url) || (page.kind == Kind::Asked && !page.vouched))
        return;
    if (page.held)
        m_news->tellWaiting();
    else
        m_news->tell();
}

void PageMirror::pageOpened(const std::string& id, const std::string& url, const std::string& openerId) {
    const std::lock_guard lock(m_mutex);
    open(id, url, openerId);
}

void PageMirror::appeared(const std::string& id, const std::string& url, const std::string& openerId,
                          bool probeFollows, std::optional<std::optional<std::string>> window) {
    const std::lock_guard lock(m_mutex);
    open(id, url, openerId);
    // Marked before the window is named: a page alone in its window and not
    // yet asked reads as a pop-up that reaches its opener.
    if (probeFollows)
        askProbe(id, url);
    if (window)
        nameWindow(id, std::move(*window));
}

bool PageMirror::open(const std::string& id, const std::string& url, const std::string& openerId) {
    if (m_pages.contains(id))
        return false;
    const auto now = MirrorClock::now();
    if (now - m_secondStart >= std::chrono::seconds(1)) {
        m_floodSeconds = m_newThisSecond > MaxNewPagesPerSecond ? m_floodSeconds + 1 : 0;
        m_secondStart = now;
        m_newThisSecond = 0;
    }
    ++m_newThisSecond;
    if (m_pages.size() >= MaxPages ||
        (m_newThisSecond > MaxNewPagesPerSecond && m_floodSeconds + 1 >= FloodSeconds)) {
        m_flooded = true;
        return false;
    }
    Page& page = m_pages[id];
    page.order = m_nextOrder++;
    page.url = url;
    page.documentUrl = url;
    page.openerId = openerId;
    m_order.emplace(page.order, id);
    if (openerId.empty())
        page.popup = false; // no script opened it: the user did
    else
        m_undecided.insert(id);
    // No news yet: nothing can be judged of a page before its window is
    // named and it has said what it shows, and a scan started now would take
    // the place of the one that can close it.
    return true;
}

bool PageMirror::addressChanged(const std::string& id, const std::string& url) {
    const std::lock_guard lock(m_mutex);
    return changeAddress(id, url);
}

bool PageMirror::navigated(const std::string& id, const std::string& url, bool probeFollows) {
    const std::lock_guard lock(m_mutex);
    const Page* page = find(id);
    if (page == nullptr || (page->url == url && page->documentUrl == url))
        return false;
    // Asked first: the new address is news only once the answer is in, and a
    // scan in between would judge the page on its last document.
    if (probeFollows)
        askProbe(id, url);
    return changeAddress(id, url);
}

bool PageMirror::changeAddress(const std::string& id, const std::string& url) {
    Page* page = find(id);
    if (page == nullptr || (page->url == url && page->documentUrl == url))
        return false;
    page->url = url;
    page->documentUrl = url;
    page->vouched = false;
    changed(id, *page);
    return true;
}

void PageMirror::loading(const std::string& id, const std::string& url) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr || page->url == url)
        return;
    page->url = url;
    changed(id, *page);
}

// The address is the one the page is going to, as for a page loading: the
// document that address brings is probed once it shows, should the page be let
// go without a verdict.
void PageMirror::held(const std::string& id, const std::string& url) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr)
        return;
    page->held = true;
    page->url = url;
    if (page->kind == Kind::Asked)
        page->kind = Kind::Unasked; // nothing to ask until the page loads
    page->kindUrl.clear();
    changed(id, *page);
}

void PageMirror::released(const std::string& id) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr || !page->held)
        return;
    page->held = false;
    page->record.reset();
}

void PageMirror::reachesOpener(const std::string& id, bool reaches) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr || page->reachesOpener == reaches)
        return;
    page->reachesOpener = reaches;
    changed(id, *page);
}

void PageMirror::openerVouched(const std::string& id) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr || page->openerId.empty() || page->vouched)
        return;
    page->vouched = true;
    page->reachesOpener = true;
    changed(id, *page);
}

void PageMirror::windowAsked(const std::string& id) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    if (page == nullptr || page->windowPending)
        return;
    page->windowPending = true;
    ++m_windowsPending;
}

void PageMirror::countWindow(const std::optional<std::string>& window, int delta) {
    if (!window)
        return;
    if ((m_pagesInWindow[*window] += delta) <= 0)
        m_pagesInWindow.erase(*window);
}

void PageMirror::windowNamed(const std::string& id, std::optional<std::string> window) {
    const std::lock_guard lock(m_mutex);
    nameWindow(id, std::move(window));
}

void PageMirror::nameWindow(const std::string& id, std::optional<std::string> window) {
    Page* page = find(id);
    if (page == nullptr)
        return;
    if (page->windowPending) {
        page->windowPending = false;
        --m_windowsPending;
    }
    if (page->window != window) {
        countWindow(page->window, -1);
        page->window = std::move(window);
        countWindow(page->window, +1);
    }
    decidePopups();
}

// A pop-up opened with window features gets a browser window of its own; a
// tab opened by script shares its opener's window with other tabs. So a page
// opened by script is a pop-up when it is the only page in its window. A
// page beside it settles it as a tab; alone, it is a pop-up only once the
// browser has named its opener's window too, since an opener it would not
// name may be that neighbour. Other pages are not waited for: some never get
// a window, and waiting on them would let every pop-up through. Nothing while
// it cannot be told yet.
std::optional<bool> PageMirror::alone(const Page& page) const {
    if (!page.window)
        return std::nullopt;
    const auto count = m_pagesInWindow.find(*page.window);
    if (count != m_pagesInWindow.end() && count->second > 1)
        return false;
    const auto opener = m_pages.find(page.openerId);
    if (opener != m_pages.end() && !opener->second.window)
        return std::nullopt;
    return true;
}

// Decided once, and only when no window the browser was asked about is still
// to be named: a neighbour not yet named would make a tab look alone.
void PageMirror::decidePopups() {
    if (m_windowsPending > 0)
        return;
    for (auto it = m_undecided.begin(); it != m_undecided.end();) {
        Page* page = find(*it);
        if (page == nullptr) {
            it = m_undecided.erase(it);
            continue;
        }
        page->popup = alone(*page);
        if (!page->popup) {
            ++it;
            continue;
        }
        changed(*it, *page);
        it = m_undecided.erase(it);
    }
}

void PageMirror::probeAsked(const std::string& id, const std::string& url) {
    const std::lock_guard lock(m_mutex);
    askProbe(id, url);
}

void PageMirror::askProbe(const std::string& id, const std::string& url) {
    Page* page = find(id);
    if (page == nullptr)
        return;
    page->kind = Kind::Asked;
    page->kindUrl = url;
    page->askedAt = MirrorClock::now();
    changed(id, *page);
}

void PageMirror::probeAnswered(const std::string& id, const std::string& url, std::optional<bool> html,
                               std::optional<bool> reachesOpener) {
    const std::lock_guard lock(m_mutex);
    Page* page = find(id);
    // An answer about an address the page has left belongs to no document it shows.
    if (page == nullptr || page->kindUrl != url)
        return;
    page->kind = html ? Kind::Answered : Kind::Unasked;
    page->html = html;
    page->vouched = false;
    if (reachesOpener)
        page->reachesOpener = reachesOpener;
    changed(id, *page);
}

std::optional<MirrorClock::time_point> PageMirror::expireProbes(MirrorClock::time_point now) {
    const std::lock_guard lock(m_mutex);
    std::optional<MirrorClock::time_point> next;
    for (auto& [id, page] : m_pages) {
        if (page.kind != Kind::Asked)
            continue;
        const auto due = page.askedAt + m_answerTime;
        if (due <= now) {
            page.kind = Kind::Overdue;
            changed(id, page);
        } else if (!next || due < *next) {
            next = due;
        }
    }
    return next;
}

void PageMirror::pageGone(const std::string& id) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_pages.find(id);
    if (it == m_pages.end())
        return;
    Page& page = it->second;
    if (page.windowPending)
        --m_windowsPending;
    countWindow(page.window, -1);
    m_order.erase(page.order);
    m_undecided.erase(id);
    m_pages.erase(it);
    // A neighbour's going may be what a pop-up's decision waited for.
    decidePopups();
}

void PageMirror::heardAt(MirrorClock::time_point when) {
    m_lastHeard = when.time_since_epoch().count();
}

bool PageMirror::flooded() const {
    const std::lock_guard lock(m_mutex);
    return m_flooded;
}

bool PageMirror::connected() const {
    const std::lock_guard lock(m_mutex);
    return m_connected;
}

bool PageMirror::waitConnected(std::chrono::milliseconds patience) const {
    std::unique_lock lock(m_mutex);
    return m_connectedChanged.wait_for(lock, patience, [this] { return m_connected; });
}

void PageMirror::closeAsked(const std::string& id) {
    const std::lock_guard lock(m_mutex);
    if (Page* page = find(id))
        page->closeAskedAt = MirrorClock::now();
}

// A page whose question is still out reads as one that cannot reach its
// opener: not a pop-up yet. Once the page has had its time to answer and has
// not, it reads as the page it was found to be without it: one the browser
// says reaches its opener, or, where only the page could say so, one in a
// pop-up window.
std::shared_ptr<const PageRecord> PageMirror::recordOf(const std::string& id, const Page& page) const {
    PageRecord record;
    record.id = id;
    record.url = page.url;
    if (!page.openerId.empty() && (page.kind != Kind::Asked || page.vouched))
        record.opener = page.reachesOpener.value_or(page.popup.value_or(false));
    if (page.kind == Kind::Answered && page.kindUrl == page.documentUrl)
        record.html = page.html;
    if (page.popup)
        record.menuBar = !*page.popup;
    if ((page.held || page.vouched) && page.popup && page.reachesOpener) {
        record.held = page.held;
        record.html = true;
    }
    return std::make_shared<const PageRecord>(std::move(record));
}

PageRecords PageMirror::snapshot() {
    const auto now = MirrorClock::now();
    const MirrorClock::time_point lastHeard{MirrorClock::duration(m_lastHeard.load())};
    const std::lock_guard lock(m_mutex);
    PageRecords records;
    if (!m_connected || now - lastHeard > FreshFor)
        return records;
    records.reserve(m_pages.size());
    for (const auto& [order, id] : m_order) {
        Page& page = m_pages.at(id);
        if (page.closeAskedAt) {
            if (now - *page.closeAskedAt < ClosingGrace)
                continue;
            page.closeAskedAt.reset();
        }
        if (!page.record)
            page.record = recordOf(id, page);
        records.push_back(page.record);
    }
    return records;
}

} // namespace tavro::browsers

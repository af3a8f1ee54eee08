#include "blocking/popup_scan.h"

#include "blocking/list_lookup.h"
#include "form/quellit.h"
#include "platform/error.h"

#include <exception>
#include <memory>
#include <optional>

namespace tavro {

std::vector<std::string> splitUrl(std::string_view url) {
    std::vector<std::string> parts;
    if (url.empty())
        return parts;
    constexpr std::size_t MaxParts = 4;
    while (parts.size() + 1 < MaxParts) {
        const auto slash = url.find('/');
        if (slash == std::string_view::npos)
            break;
        parts.emplace_back(url.substr(0, slash));
        url.remove_prefix(slash + 1);
    }
    parts.emplace_back(url);
    return parts;
}

namespace {

// Runs one step of the scan. A step that fails is abandoned where it stands and
// the scan goes on with the step written after it, so failures are absorbed here.
template <typename Step> void attempt(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

// A test is a step of its own: when reading one of its conditions fails, the
// scan goes on as if it held. Every condition is read, in order, before the
// answer is formed; no condition is skipped because an earlier one settled it.
template <typename Conditions> bool holds(Conditions&& conditions) {
    try {
        return conditions();
    } catch (const std::exception&) {
        return true;
    }
}

// What one tick carries from one window to the next.
class TickState {
public:
    explicit TickState(Quellit& form) : m_form(form) {}

    void examine();

    // Once the walk is over: Ctrl lets through the last window it was held
    // over that the block path would have closed.
    void letThroughNewest();

    // The document is dropped; the next failed read finds "no document".
    void releaseDocument() {
        m_documentRead = true;
        m_document.reset();
    }

private:
    BrowserWindow& browser() { return *m_form.CurrentBrowser; }

    // Before the first successful read of a tick there is nothing to test. We
    // answer "not an HTML document" then, so a window we could not look at is
    // passed over rather than closed.
    bool heldIsHtml() const { return m_documentRead && m_document && m_document->isHtml(); }

    // Raises ObjectVariableNotSet when nothing is held, as reading a property
    // of nothing would.
    bool opener() {
        if (!m_document)
            throw Error(errc::ObjectVariableNotSet, "Object variable or With block variable not set");
        return m_document->opener();
    }

    // Raises SubscriptOutOfRange when the last split URL has no third part.
    const std::string& domain() const {
        if (!hasDomain())
            throw Error(errc::SubscriptOutOfRange, "Subscript out of range");
        return (*m_urlParts)[2];
    }

    bool hasDomain() const { return m_urlParts && m_urlParts->size() >= 3; }

    void readUrl() {
        attempt([&] { m_urlParts = splitUrl(browser().locationUrl()); });
    }
    void appendIfMissing(ListBox& list) {
        if (holds([&] { return !ListContains(list, domain()); }))
            attempt([&] { list.append(domain()); });
    }
    void beepIfChecked() {
        if (holds([&] { return m_form.chkBeep.value() == CheckBox::Checked; }))
            attempt([&] { m_form.sys.tone.Beep(BlockToneHz, BlockToneMs); });
    }
    void quit() {
        attempt([&] { browser().quit(); });
    }
    void removeFirst(ListBox& list) {
        const std::int16_t n = list.count();
        for (std::int16_t i = 0; i < n; ++i) {
            if (list.text(i) == domain()) {
                list.removeAt(i);
                return;
            }
        }
    }

    Quellit& m_form;
    bool m_documentRead = false;
    std::shared_ptr<Document> m_document;
    std::optional<std::vector<std::string>> m_urlParts;
    std::int16_t m_ctrl = 0;
    // The URL parts of the last window Ctrl was held over that the block path
    // would have closed.
    std::optional<std::vector<std::string>> m_newest;
};

void TickState::examine() {
    ListBox& allowed = m_form.lstWhiteList;
    ListBox& blocked = m_form.lstBlockedUrls;

    attempt([&] {
        auto document = browser().document();
        m_document = std::move(document);
        m_documentRead = true;
    });
    attempt([&] { m_ctrl = m_form.sys.keys.GetKeyState(VK_CONTROL); });
    const bool ctrlDown = (static_cast<std::uint16_t>(m_ctrl) & 0x8000U) != 0;

    // Ctrl held lets a pop-up through rather than closing it. Only a window
    // the tests below would close qualifies: a tab a script opened has an
    // opener too, yet it stays open anyway, and allowing its domain would let
    // through every pop-up that domain opens later. Of those that qualify only
    // the newest is let through, once the walk is over: an older pop-up may
    // still be open when the one Ctrl is held for appears, and the browsers
    // list their pages in the order they opened. While Ctrl is held nothing is
    // closed.
    const auto closeOrMark = [&] {
        if (ctrlDown) {
            m_newest = m_urlParts;
            return;
        }
        appendIfMissing(blocked);
        beepIfChecked();
        quit();
    };

    if (!holds([&] { return heldIsHtml(); }))
        return;
    readUrl();
    // Pages without a domain (about:blank, say) are passed over, with Ctrl
    // held too, so that Ctrl still reaches a pop-up behind them.
    if (holds([&] { return domain().empty(); })) {
        releaseDocument();
        return;
    }

    const bool popupTest = holds([&] {
        const bool menuBarHidden = !browser().menuBar();
        const bool hasOpener = opener();
        const bool notAllowed = !ListContains(allowed, domain());
        return menuBarHidden && hasOpener && notAllowed;
    });
    if (popupTest)
        closeOrMark();

    // Aggressive blocking also closes pop-ups that show a menu bar. It runs even
    // when the window was just asked to close: its opener still reads as an
    // object, so such a pop-up is asked twice.
    const bool aggressiveTest = holds([&] {
        const bool aggressive = m_form.chkMenubar.value() != CheckBox::Unchecked;
        const bool hasOpener = opener();
        const bool notAllowed = !ListContains(allowed, domain());
        return aggressive && hasOpener && notAllowed;
    });
    if (aggressiveTest)
        closeOrMark();
}

void TickState::letThroughNewest() {
    if (!m_newest)
        return;
    m_urlParts = std::move(m_newest);
    m_newest.reset();
    ListBox& blocked = m_form.lstBlockedUrls;
    appendIfMissing(m_form.lstWhiteList);
    if (holds([&] { return ListContains(blocked, domain()); }))
        attempt([&] { removeFirst(blocked); });
}

} // namespace

void Timer1_Timer(Quellit& form) {
    if (!form.BrowserWindows)
        attempt([&] { form.BrowserWindows = form.sys.browser.createShellWindows(); });
    if (!form.BrowserWindows)
        return;

    std::unique_ptr<WindowWalk> walk;
    attempt([&] { walk = form.BrowserWindows->walk(); });
    if (!walk)
        return;

    TickState tick(form);
    for (;;) {
        std::shared_ptr<BrowserWindow> item;
        try {
            item = walk->next();
        } catch (const std::exception&) {
            break;
        }
        if (!item)
            break;
        form.CurrentBrowser = std::move(item);
        tick.examine();
    }
    tick.letThroughNewest();
    tick.releaseDocument();
}

} // namespace tavro

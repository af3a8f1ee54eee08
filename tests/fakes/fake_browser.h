#pragma once

#include "platform/browser.h"
#include "platform/error.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::fakes {

// A browser window the test lays out. Each read can be made to fail; close
// requests are counted.
struct FakeWindowLayout {
    bool hasDocument = true;
    bool html = true;
    std::string url = "http://ads.site.example/win/offer.html";
    bool opener = true;
    bool menuBar = false;
    bool failDocument = false;
    bool failUrl = false;
    bool failOpener = false;
    bool failMenuBar = false;
    bool failQuit = false;
};

class FakeDocument final : public Document {
public:
    FakeDocument(bool html, std::function<bool()> opener) : m_html(html), m_opener(std::move(opener)) {}
    bool isHtml() const override { return m_html; }
    bool opener() override { return m_opener(); }

private:
    bool m_html;
    std::function<bool()> m_opener;
};

class FakeWindow final : public BrowserWindow {
public:
    explicit FakeWindow(FakeWindowLayout windowLayout) : layout(std::move(windowLayout)) {}

    std::shared_ptr<Document> document() override {
        ++documentReads;
        if (layout.failDocument)
            throw Error(errc::AutomationError, "Automation error");
        if (!layout.hasDocument)
            return nullptr;
        return std::make_shared<FakeDocument>(layout.html, [this] {
            ++openerReads;
            if (layout.failOpener)
                throw Error(errc::AutomationError, "Automation error");
            return layout.opener;
        });
    }
    std::string locationUrl() override {
        ++urlReads;
        if (layout.failUrl)
            throw Error(errc::AutomationError, "Automation error");
        return layout.url;
    }
    bool menuBar() override {
        if (layout.failMenuBar)
            throw Error(errc::AutomationError, "Automation error");
        return layout.menuBar;
    }
    void quit() override {
        ++quitRequests;
        if (layout.failQuit)
            throw Error(errc::AutomationError, "Automation error");
    }

    FakeWindowLayout layout;
    int documentReads = 0;
    int urlReads = 0;
    int openerReads = 0;
    int quitRequests = 0;
};

// The collection: the windows in order; the walk can be made to fail at a position.
class FakeShellWindows final : public ShellWindows {
public:
    std::unique_ptr<WindowWalk> walk() override;

    std::vector<std::shared_ptr<FakeWindow>> windows;
    bool failWalk = false;
    int failStepAt = -1; // the walk fails when asked for the item at this position
    int walksStarted = 0;
};

struct OpenedBrowser {
    std::string url;
    bool visible = false;
};

class FakeBrowserAutomation final : public BrowserAutomation {
public:
    FakeBrowserAutomation() : shell(std::make_shared<FakeShellWindows>()) {}

    FakeWindow& add(FakeWindowLayout layout = {}) {
        shell->windows.push_back(std::make_shared<FakeWindow>(std::move(layout)));
        return *shell->windows.back();
    }

    std::shared_ptr<ShellWindows> createShellWindows() override {
        ++creations;
        if (failCreate)
            throw Error(errc::CannotCreateObject, "ActiveX component can't create object");
        return shell;
    }
    std::unique_ptr<NewBrowser> createBrowser() override;

    std::shared_ptr<FakeShellWindows> shell;
    bool failCreate = false;
    int creations = 0;
    // New browser windows opened for the vendor's pages, in order.
    std::vector<OpenedBrowser> opened;
    bool failNewBrowser = false;
    // Raised instead of the usual error when set, for failures of other kinds.
    std::exception_ptr newBrowserFailure;
    bool failNavigate = false;
};

} // namespace tavro::fakes

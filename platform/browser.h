#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The browser automation: the open browser windows that the popup scan
// examines and closes, and new browser windows for the vendor's pages. Every
// call may raise an Error; each caller says what its failure does.
namespace tavro {

// A document shown by a browser window.
class Document {
public:
    virtual ~Document() = default;
    // True for an HTML document; false for any other kind (a folder view).
    virtual bool isHtml() const = 0;
    // The by-name read of "parentWindow" then "opener": true when the value is
    // an object, that is when another window opened this one by script.
    virtual bool opener() = 0;
};

// One open browser window of the collection.
class BrowserWindow {
public:
    virtual ~BrowserWindow() = default;
    // The current document, or nullptr when the window has none.
    virtual std::shared_ptr<Document> document() = 0;
    virtual std::string locationUrl() = 0;
    // True while the window shows its menu bar (an ordinary window, not a pop-up).
    virtual bool menuBar() = 0;
    // Asks the window to close and returns at once.
    virtual void quit() = 0;
};

// One walk over the collection, in the collection's own order.
class WindowWalk {
public:
    virtual ~WindowWalk() = default;
    // The next window, or nullptr after the last. A failure ends the walk.
    virtual std::shared_ptr<BrowserWindow> next() = 0;
};

// The live collection of the open browser windows.
class ShellWindows {
public:
    virtual ~ShellWindows() = default;
    // Starts a walk; raises an Error when the walk cannot be started.
    virtual std::unique_ptr<WindowWalk> walk() = 0;
};

// A new browser window that is still hidden.
class NewBrowser {
public:
    virtual ~NewBrowser() = default;
    virtual void Navigate2(const std::string& url) = 0;
    virtual void setVisible(bool visible) = 0;
};

// What the connected browser announces between ticks: a page opened by
// script, or such a page getting or changing its address. The toolkit watches
// for it and turns it into a scan on the user-interface thread; a browser
// that announces nothing leaves the ticks to do the work.
class BrowserNews {
public:
    virtual ~BrowserNews() = default;
    // Called on the user-interface thread when news has been heard or the
    // handle to watch has changed, possibly in the middle of a scan: the
    // listener acts later, through the event loop.
    virtual void setListener(std::function<void()> listener) = 0;
    // The handle to watch for input between ticks, or -1 while there is none.
    virtual int watchHandle() = 0;
    // Reads what has arrived on the handle, without waiting.
    virtual void readArrived() = 0;
    // True once for everything heard since it was last asked.
    virtual bool takeNews() = 0;
    // True once, with the news, when a page the news told of waits for the
    // scan's verdict before it sends its request.
    virtual bool takeWaiting() { return false; }
    // Whether a scan follows the news (blocking is on). While none does, a
    // browser holds no new page for the scan's verdict, and lets go of those
    // it holds.
    virtual void judging(bool on) { static_cast<void>(on); }
};

class BrowserAutomation {
public:
    virtual ~BrowserAutomation() = default;
    // The connected browsers' announcements: none for a browser that makes
    // none.
    virtual std::vector<BrowserNews*> news() { return {}; }
    // The collection; raises an Error when no browser can be reached.
    virtual std::shared_ptr<ShellWindows> createShellWindows() = 0;
    // A new, hidden browser window; raises an Error when none can be created.
    virtual std::unique_ptr<NewBrowser> createBrowser() = 0;
};

} // namespace tavro

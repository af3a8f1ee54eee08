#pragma once

#include "form/design.h"
#include "platform/controls.h"
#include "platform/platform.h"

#include <memory>
#include <string>

namespace tavro {

// The values the help module keeps for the whole process: the application's
// help file setting and the window that owns the help viewer's session.
struct ContextIDs {
    std::string HelpFile;
    WindowHandle helpOwner = 0;
};

// The window hook's module: the window procedure it replaced.
struct Module1 {
    WindowProc PrevWndProc;
};

// The main window: the program's one shared object. It owns the two domain
// lists, the option check boxes, the captions that follow the blocking switch
// and the window's private fields; every handler works on it.
class Quellit {
public:
    explicit Quellit(Platform& platform) : sys(platform) {}
    Quellit(const Quellit&) = delete;
    Quellit& operator=(const Quellit&) = delete;

    Platform& sys;

    Window& window() { return sys.toolkit.mainWindow(); }
    Timer& Timer1() { return sys.toolkit.timer1(); }

    ListBox lstWhiteList;
    ListBox lstBlockedUrls;
    CheckBox chkBeep;
    CheckBox chkHideOnStart;
    CheckBox chkMenubar;
    Caption cmd_Enable{"Disable"};
    Caption mnuEnable{"Disable"};

    // The popup scan's collection of open browser windows, created on first use,
    // and the window it is looking at.
    std::shared_ptr<ShellWindows> BrowserWindows;
    std::shared_ptr<BrowserWindow> CurrentBrowser;
    bool BlockingEnabled = false;
    bool StartupHidePending = false;

    // Set when the allowed-domain file was not loaded whole, so that the next
    // save keeps the file as it is beside it first.
    bool allowedFileNotLoadedWhole = false;

    // Set once an unexpected failure is being reported; see form/failure_rule.h.
    bool endingOnFailure = false;
    // Set once the program ends without anyone asking for it in the window (the
    // session's end, a termination signal, the display gone): nobody may be
    // there to answer a box, so failures are reported without one.
    bool endingUnattended = false;

    // The two code modules' values live as long as the window does.
    ContextIDs contextIds;
    Module1 module1;
};

} // namespace tavro

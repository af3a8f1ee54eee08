#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The window toolkit: the main window, its timer, its pop-up menu, modal
// message boxes and the facts about the running program. Everything here is
// called on the user-interface thread only.
namespace tavro {

// The main window's handle, as the help viewer and the notification area know it.
using WindowHandle = std::int32_t;

// A window procedure: handle, message number, wParam, lParam; returns the result.
using WindowProc = std::function<std::intptr_t(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t)>;

// The pictures the window and the tray icon show.
enum class Icon { None, Enabled, Disabled };

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Information, Critical };
enum class MessageAnswer : int { Ok = 1, Yes = 6, No = 7 };

struct MessageBoxRequest {
    std::string text;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    // The application title when left empty.
    std::string title;

    bool operator==(const MessageBoxRequest&) const = default;
};

// Why the main window is being closed.
enum class CloseReason : std::int16_t {
    User = 0,        // close box, the window menu's Close, Alt+F4
    Program = 1,     // the program's own Exit commands
    Session = 2,     // the desktop session is ending
    TaskManager = 3, // another program asked us to end (a termination signal)
};

// The events the window delivers to the logic, one at a time on the
// user-interface thread. Implemented by the logic.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void Form_Load() = 0;
    virtual void Form_Paint() = 0;
    // cancel is 0 on entry; setting it non-zero keeps the window.
    virtual void Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode) = 0;
    virtual void Form_Unload(std::int16_t& cancel) = 0;
    virtual void Timer1_Timer() = 0;
    // A click or double-click of a control or menu item, named as in the design.
    virtual void Click(const std::string& control) = 0;
    virtual void DblClick(const std::string& control) = 0;
    // F1 while the window is active; the control that has the focus, or empty.
    virtual void HelpKey(const std::string& focusedControl) = 0;
};

// The window's timer. A tick is an event on the user-interface thread and never
// overlaps another handler.
class Timer {
public:
    virtual ~Timer() = default;
    virtual int interval() const = 0;
    virtual bool enabled() const = 0;
    // Enabling restarts the interval: the first tick comes one interval later.
    virtual void setEnabled(bool enabled) = 0;
};

// The main window.
class Window {
public:
    virtual ~Window() = default;
    virtual WindowHandle hWnd() const = 0;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual Icon icon() const = 0;
    virtual void setIcon(Icon icon) = 0;
    // Modeless, without owner; a paint follows.
    virtual void show() = 0;
    // No window on screen and no task-bar entry; everything else goes on.
    virtual void hide() = 0;
    virtual bool visible() const = 0;
    // Asks the window to close for a reason: Form_QueryUnload, then, unless
    // cancelled, Form_Unload and the end of the window.
    virtual void close(CloseReason reason) = 0;
    // Replaces the window procedure and returns the one it replaced.
    virtual WindowProc setWindowProc(WindowProc proc) = 0;
    // Opens the named menu items as a pop-up menu at the mouse pointer with a
    // default (bold) item; returns when the menu has closed. The chosen item's
    // Click is delivered afterwards.
    virtual void popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) = 0;
};

// The toolkit itself and the facts about the running program.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    virtual Window& mainWindow() = 0;
    virtual Timer& timer1() = 0;
    // Modal; timer ticks go on while it waits. Returns the answer.
    virtual MessageAnswer messageBox(const MessageBoxRequest& request) = 0;
    // A failure of an ending nobody asked for in the window, where no box may
    // wait for a person: one line on standard error and in the desktop's
    // journal where there is one. Shows nothing, waits for nothing, never raises.
    virtual void reportUnattended(const std::string& text) = 0;
    // The folder of the running executable, without a trailing separator except at the root.
    virtual std::string programFolder() const = 0;
    // Asked once at start-up. Raises an error when it cannot tell.
    virtual bool anotherInstanceRunning() = 0;
    // Ends the process at once with a status, running nothing of the logic's.
    [[noreturn]] virtual void terminate(int status) = 0;
};

} // namespace tavro

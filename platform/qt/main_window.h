#pragma once

#include "platform/controls.h"
#include "platform/toolkit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace tavro::qt {

// The main window built from the design tables, with its timer. It shows the
// control models it is bound to and hands what the user does to the FormEvents
// it is given, one event at a time on the user-interface thread. Needs a
// QApplication.
class QtMainWindow final : public Window {
public:
    QtMainWindow();
    ~QtMainWindow() override;
    QtMainWindow(const QtMainWindow&) = delete;
    QtMainWindow& operator=(const QtMainWindow&) = delete;

    WindowHandle hWnd() const override;
    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    Icon icon() const override;
    void setIcon(Icon icon) override;
    void show() override;
    void hide() override;
    bool visible() const override;
    void close(CloseReason reason) override;
    WindowProc setWindowProc(WindowProc proc) override;
    void popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) override;

    // Where the window's events go; nothing is delivered while it is null.
    void setEvents(FormEvents* events);
    // Binds a list box, check box, button or menu item of the design to the
    // model the logic owns; the widget takes the model's present state.
    void bindList(std::string_view name, ListBox& model);
    void bindCheckBox(std::string_view name, CheckBox& model);
    void bindCaption(std::string_view name, Caption& model);
    // Where a link label of the design leads.
    void bindLink(std::string_view name, const std::string& address);
    // An item of the program's own in the tray menu, beside the design's: it
    // shows just before the design's item before, and choosing it runs chosen
    // instead of reaching the logic.
    void addMenuItem(std::string name, std::string caption, std::string before, std::function<void()> chosen);

    // Asked at each hide: whether the user has a way to bring a hidden window
    // back. Where there is none, hiding minimizes instead. Unset, hiding hides.
    void setHiddenWindowReachable(std::function<bool()> reachable);

    // Sends a message through the current window procedure, as the desktop does
    // for the notification area's callback.
    std::intptr_t send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    // True once the window has unloaded; the program is then over.
    bool ended() const;
    Timer& timer1();

    // The top-level widget and the widget of a design control, for the toolkit's
    // message boxes and for tests. control() is null for unknown names and for
    // controls that have no widget (Timer1, Inet1).
    QWidget* widget() const;
    QWidget* control(std::string_view name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace tavro::qt

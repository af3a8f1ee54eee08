#pragma once

#include "platform/toolkit.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tavro::fakes {

// Thrown by FakeToolkit::terminate, so a test sees the program end without the
// test process ending.
struct Terminated {
    int status;
};

class FakeTimer final : public Timer {
public:
    int interval() const override { return 600; }
    bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }

private:
    bool m_enabled = true;
};

class FakeMainWindow final : public Window {
public:
    WindowHandle hWnd() const override { return handle; }
    std::string caption() const override { return m_caption; }
    void setCaption(const std::string& caption) override { m_caption = caption; }
    Icon icon() const override { return m_icon; }
    void setIcon(Icon icon) override { m_icon = icon; }
    void show() override;
    void hide() override { m_visible = false; }
    bool visible() const override { return m_visible; }
    void close(CloseReason reason) override;
    WindowProc setWindowProc(WindowProc proc) override;
    void popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) override;

    // Sends a message through the current window procedure, as the desktop would.
    std::intptr_t send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    struct PopupCall {
        std::vector<std::string> items;
        std::string defaultItem;
    };

    WindowHandle handle = 0x2A0F;
    FormEvents* events = nullptr;
    std::vector<PopupCall> popups;
    // The item the user picks from the next pop-up menu; empty for none.
    std::string nextMenuChoice;
    // Messages that reached the window's own procedure, the one installed first.
    std::vector<std::uint32_t> defaultProcMessages;
    bool destroyed = false;
    int shows = 0;

private:
    std::string m_caption = "Tavro Popup Blocker";
    Icon m_icon = Icon::Enabled;
    bool m_visible = false;
    WindowProc m_proc = [this](WindowHandle, std::uint32_t message, std::uintptr_t, std::intptr_t) {
        defaultProcMessages.push_back(message);
        return std::intptr_t{0};
    };
};

class FakeToolkit final : public Toolkit {
public:
    Window& mainWindow() override { return window; }
    Timer& timer1() override { return timer; }
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    void reportUnattended(const std::string& text) override { unattendedReports.push_back(text); }
    std::string programFolder() const override { return folder; }
    bool anotherInstanceRunning() override { return otherInstance; }
    [[noreturn]] void terminate(int status) override { throw Terminated{status}; }

    FakeMainWindow window;
    FakeTimer timer;
    std::string folder = "/opt/tavro";
    bool otherInstance = false;
    std::vector<MessageBoxRequest> messages;
    std::vector<std::string> unattendedReports;
    // Answers for the next message boxes; when none is scripted a box answers
    // with its default button (OK, or Yes).
    std::deque<MessageAnswer> answers;
    // Runs while a message box waits, as timer ticks do during a modal wait.
    std::function<void()> whileWaiting;
};

} // namespace tavro::fakes

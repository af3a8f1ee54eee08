#pragma once

#include "app/form_events.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"

#include <memory>
#include <string>
#include <vector>

// The fake platform behind decorators that write every call of interest into
// one journal, so that a test sees the order of calls across services.
namespace tavro::testing {

using Journal = std::vector<std::string>;

class JournalWindow final : public Window {
public:
    JournalWindow(fakes::FakeMainWindow& inner, Journal& journal) : m_inner(inner), m_journal(journal) {}
    WindowHandle hWnd() const override { return m_inner.hWnd(); }
    std::string caption() const override { return m_inner.caption(); }
    void setCaption(const std::string& caption) override {
        m_journal.push_back("caption " + caption);
        m_inner.setCaption(caption);
    }
    Icon icon() const override { return m_inner.icon(); }
    void setIcon(Icon icon) override {
        m_journal.push_back("icon " + std::to_string(static_cast<int>(icon)));
        m_inner.setIcon(icon);
    }
    void show() override {
        m_journal.push_back("show");
        m_inner.show();
    }
    void hide() override {
        m_journal.push_back("hide");
        m_inner.hide();
    }
    bool visible() const override { return m_inner.visible(); }
    void close(CloseReason reason) override {
        m_journal.push_back("close " + std::to_string(static_cast<int>(reason)));
        m_inner.close(reason);
    }
    WindowProc setWindowProc(WindowProc proc) override {
        m_journal.push_back("window procedure");
        return m_inner.setWindowProc(std::move(proc));
    }
    void popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) override {
        m_journal.push_back("popup menu");
        m_inner.popupMenu(items, defaultItem);
    }

private:
    fakes::FakeMainWindow& m_inner;
    Journal& m_journal;
};

class JournalToolkit final : public Toolkit {
public:
    JournalToolkit(fakes::FakeToolkit& inner, JournalWindow& window, Journal& journal)
        : m_inner(inner), m_window(window), m_journal(journal) {}
    Window& mainWindow() override { return m_window; }
    Timer& timer1() override { return m_inner.timer1(); }
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        m_journal.push_back("message box");
        return m_inner.messageBox(request);
    }
    void reportUnattended(const std::string& text) override {
        m_journal.push_back("report");
        m_inner.reportUnattended(text);
    }
    std::string programFolder() const override { return m_inner.programFolder(); }
    bool anotherInstanceRunning() override {
        // The help set-up comes first and touches no service, so its result is noted here.
        m_journal.push_back("instance test, help file " + (form ? form->contextIds.HelpFile : std::string()));
        return m_inner.anotherInstanceRunning();
    }
    [[noreturn]] void terminate(int status) override {
        m_journal.push_back("terminate " + std::to_string(status));
        m_inner.terminate(status);
    }

    const Quellit* form = nullptr;

private:
    fakes::FakeToolkit& m_inner;
    JournalWindow& m_window;
    Journal& m_journal;
};

class JournalSettings final : public SettingsStore {
public:
    JournalSettings(fakes::FakeSettingsStore& inner, Journal& journal) : m_inner(inner), m_journal(journal) {}
    std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        m_journal.push_back("read " + key);
        return m_inner.GetSetting(app, section, key, defaultValue);
    }
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override {
        m_journal.push_back("write " + key + "=" + value);
        m_inner.SaveSetting(app, section, key, value);
    }
    std::string location() const override { return "/home/user/.config/Tavro Popup Blocker.conf"; }

private:
    fakes::FakeSettingsStore& m_inner;
    Journal& m_journal;
};

class JournalNotifyArea final : public NotifyArea {
public:
    JournalNotifyArea(fakes::FakeNotifyArea& inner, Journal& journal) : m_inner(inner), m_journal(journal) {}
    bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& data) override {
        m_journal.push_back("tray " + std::to_string(message));
        return m_inner.Shell_NotifyIcon(message, data);
    }

private:
    fakes::FakeNotifyArea& m_inner;
    Journal& m_journal;
};

class JournalHelpViewer final : public HelpViewer {
public:
    JournalHelpViewer(fakes::FakeHelpViewer& inner, Journal& journal) : m_inner(inner), m_journal(journal) {}
    int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                std::uint32_t data) override {
        m_journal.push_back("help " + std::to_string(command));
        return m_inner.WinHelp(owner, helpFile, command, data);
    }

private:
    fakes::FakeHelpViewer& m_inner;
    Journal& m_journal;
};

class JournalFiles final : public Files {
public:
    JournalFiles(fakes::FakeFiles& inner, Journal& journal) : m_inner(inner), m_journal(journal) {}
    std::unique_ptr<TextInput> openInput(const std::string& path) override {
        m_journal.push_back("read file " + path);
        return m_inner.openInput(path);
    }
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override {
        m_journal.push_back("write file " + path);
        return m_inner.openOutput(path);
    }
    void copyFile(const std::string& path, const std::string& copyPath) override {
        m_journal.push_back("copy file " + path + " to " + copyPath);
        m_inner.copyFile(path, copyPath);
    }
    void removeLeftovers(const std::string& path) override { m_inner.removeLeftovers(path); }

private:
    fakes::FakeFiles& m_inner;
    Journal& m_journal;
};

// The main window on the journalled fakes, with its events wired as the real
// window wires them.
struct JournalForm {
    JournalForm() {
        toolkit.form = &form;
        fake.toolkit.window.events = &events;
    }

    void store(const std::string& key, const std::string& value) {
        fake.settings.values[{"Tavro Popup Blocker", "Options", key}] = value;
    }
    std::string stored(const std::string& key) {
        return fake.settings.values[{"Tavro Popup Blocker", "Options", key}];
    }

    // Runs the start-up sequence and clears the journal for what follows.
    void load() {
        events.Form_Load();
        journal.clear();
    }

    fakes::FakePlatform fake;
    Journal journal;
    JournalWindow window{fake.toolkit.window, journal};
    JournalToolkit toolkit{fake.toolkit, window, journal};
    JournalSettings settings{fake.settings, journal};
    JournalNotifyArea notifyArea{fake.notifyArea, journal};
    JournalHelpViewer helpViewer{fake.helpViewer, journal};
    JournalFiles files{fake.files, journal};
    Platform platform{toolkit,    fake.browser, fake.keys, fake.tone, settings,
                      notifyArea, helpViewer,   fake.http, files};
    Quellit form{platform};
    QuellitEvents events{form};
};

inline const std::string WhiteListPath = "/opt/tavro/Whitelst.txt";
inline const std::string SettingsPath = "/home/user/.config/Tavro Popup Blocker.conf";

} // namespace tavro::testing

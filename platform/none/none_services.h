#pragma once

#include "platform/browser.h"
#include "platform/files.h"
#include "platform/help_viewer.h"
#include "platform/http_fetch.h"
#include "platform/key_state.h"
#include "platform/tone.h"

// Adapters for services that have no real one on this build: each says it is
// not available by raising an Error, except where the service's own contract
// has an answer for "cannot tell".
namespace tavro::none {

class NoBrowserAutomation final : public BrowserAutomation {
public:
    std::shared_ptr<ShellWindows> createShellWindows() override;
    std::unique_ptr<NewBrowser> createBrowser() override;
};

// Cannot tell, so every key reads as up.
class NoKeyState final : public KeyState {
public:
    std::int16_t GetKeyState(int virtualKey) override;
};

class NoTone final : public Tone {
public:
    void Beep(int frequencyHz, int durationMs) override;
};

// With no viewer there is never one to tell to quit, so a quit request is
// answered as done; every other request raises.
class NoHelpViewer final : public HelpViewer {
public:
    int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                std::uint32_t data) override;
};

class NoHttpFetch final : public HttpFetch {
public:
    std::string OpenURL(const std::string& url) override;
};

class NoFiles final : public Files {
public:
    std::unique_ptr<TextInput> openInput(const std::string& path) override;
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override;
};

} // namespace tavro::none

#pragma once

#include "tests/support/process.h"
#include "tests/support/virtual_display.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavro::testing {

// How a test browser is started.
struct ChromiumOptions {
    // Headless, or with real windows on this X display (":99").
    std::string display;
    // The profile folder; a fresh temporary one when empty, removed at the end.
    std::string profile;
    std::vector<std::string> extraArguments;
};

// A Chromium that a test starts and ends: its own temporary profile, its
// debugging port chosen by the browser (--remote-debugging-port=0) and
// written to DevToolsActivePort, its own pop-up blocker off so pages can open
// pop-ups from their scripts. The binary is "chromium", or $TAVRO_CHROMIUM.
class ChromiumProcess final {
public:
    explicit ChromiumProcess(ChromiumOptions options = {});
    ~ChromiumProcess();
    ChromiumProcess(const ChromiumProcess&) = delete;
    ChromiumProcess& operator=(const ChromiumProcess&) = delete;

    // Starts the browser and waits until it has written its port file.
    void start();
    // Kills the browser and all its processes at once, as a crash would.
    void kill();
    bool running() const { return m_pid > 0; }
    // The browser's process group.
    pid_t pid() const { return m_pid; }

    const std::string& profile() const { return m_profile; }
    std::string portFile() const { return m_profile + "/DevToolsActivePort"; }

private:
    ChromiumOptions m_options;
    std::string m_profile;
    bool m_ownProfile = false;
    pid_t m_pid = -1;
};

} // namespace tavro::testing

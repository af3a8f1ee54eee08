#pragma once

#include <string>
#include <sys/types.h>

namespace tavro::testing {

// A Firefox that a test starts and ends, with real windows on an X display:
// its own temporary profile (unless given one), its debugging port chosen by
// the browser and written to WebDriverBiDiServer.json, its own pop-up
// blocker off so pages can open pop-ups while they load. The binary is
// "firefox-esr", or $TAVRO_FIREFOX.
class FirefoxProcess final {
public:
    FirefoxProcess(std::string display, std::string profile = {});
    ~FirefoxProcess();
    FirefoxProcess(const FirefoxProcess&) = delete;
    FirefoxProcess& operator=(const FirefoxProcess&) = delete;

    // Starts the browser and waits until it has written its server file.
    void start();
    // Kills the browser and all its processes at once, as a crash would.
    void kill();
    bool running() const { return m_pid > 0; }
    // The browser's process group.
    pid_t pid() const { return m_pid; }

    const std::string& profile() const { return m_profile; }
    std::string serverFile() const { return m_profile + "/WebDriverBiDiServer.json"; }

private:
    std::string m_display;
    std::string m_profile;
    bool m_ownProfile = false;
    pid_t m_pid = -1;
};

} // namespace tavro::testing

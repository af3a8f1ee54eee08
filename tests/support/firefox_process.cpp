#include "tests/support/firefox_process.h"

#include "tests/support/process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

namespace tavro::testing {

namespace {

using namespace std::chrono_literals;

// What the program's own profile sets (remote.prefs.recommended), and what a
// quiet test browser needs: no first-run pages, no updates, and pop-ups that
// pages open while loading reach the program instead of Firefox's blocker.
constexpr const char* UserJs = R"(user_pref("remote.prefs.recommended", false);
user_pref("dom.disable_open_during_load", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("browser.tabs.warnOnClose", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("toolkit.startup.max_resumed_crashes", -1);
user_pref("network.proxy.type", 0);
)";

bool hasServerFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::file_size(path, ec) > 0 && !ec;
}

} // namespace

FirefoxProcess::FirefoxProcess(std::string display, std::string profile)
    : m_display(std::move(display)), m_profile(std::move(profile)) {
    if (m_profile.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-firefox-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a profile folder");
        m_profile = pattern;
        m_ownProfile = true;
    }
    std::filesystem::create_directories(m_profile);
    std::ofstream(m_profile + "/user.js") << UserJs;
}

FirefoxProcess::~FirefoxProcess() {
    kill();
    if (m_ownProfile) {
        std::error_code ignored;
        std::filesystem::remove_all(m_profile, ignored);
    }
}

void FirefoxProcess::start() {
    if (running())
        return;
    std::error_code ignored;
    std::filesystem::remove(serverFile(), ignored);

    const char* binary = std::getenv("TAVRO_FIREFOX");
    m_pid = spawnInGroup({binary != nullptr && *binary != '\0' ? binary : "firefox-esr", "--no-remote",
                          "--remote-debugging-port=0", "--profile", m_profile, "about:blank"},
                         {"DISPLAY=" + m_display, "MOZ_CRASHREPORTER_DISABLE=1"});
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!hasServerFile(serverFile())) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("firefox ended before it opened its debugging port");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill();
            throw std::runtime_error("firefox did not open its debugging port within 60 s");
        }
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(100ms);
}

void FirefoxProcess::kill() {
    killGroup(m_pid);
}

} // namespace tavro::testing

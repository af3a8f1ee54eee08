#include "tests/support/chromium_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavro::testing {

namespace {

using namespace std::chrono_literals;

bool hasPortFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::file_size(path, ec) > 0 && !ec;
}

} // namespace

ChromiumProcess::ChromiumProcess(ChromiumOptions options) : m_options(std::move(options)) {
    m_profile = m_options.profile;
    if (m_profile.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-chromium-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a profile folder");
        m_profile = pattern;
        m_ownProfile = true;
    }
}

ChromiumProcess::~ChromiumProcess() {
    kill();
    if (m_ownProfile) {
        std::error_code ignored;
        std::filesystem::remove_all(m_profile, ignored);
    }
}

void ChromiumProcess::start() {
    if (running())
        return;
    std::error_code ignored;
    std::filesystem::remove(portFile(), ignored);

    const char* binary = std::getenv("TAVRO_CHROMIUM");
    std::vector<std::string> arguments{binary != nullptr && *binary != '\0' ? binary : "chromium",
                                       "--user-data-dir=" + m_profile,
                                       "--remote-debugging-port=0",
                                       "--remote-debugging-address=127.0.0.1",
                                       "--no-first-run",
                                       "--no-default-browser-check",
                                       "--disable-background-networking",
                                       "--disable-component-update",
                                       "--disable-sync",
                                       "--disable-default-apps",
                                       "--disable-extensions",
                                       "--disable-dev-shm-usage",
                                       "--disable-session-crashed-bubble",
                                       "--password-store=basic",
                                       "--disable-popup-blocking"};
    if (::geteuid() == 0)
        arguments.emplace_back("--no-sandbox");
    std::vector<std::string> environment;
    if (m_options.display.empty()) {
        arguments.emplace_back("--headless");
    } else {
        environment.push_back("DISPLAY=" + m_options.display);
        arguments.emplace_back("--ozone-platform=x11");
    }
    for (const std::string& extra : m_options.extraArguments)
        arguments.push_back(extra);
    arguments.emplace_back("about:blank");

    m_pid = spawnInGroup(arguments, environment);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!hasPortFile(portFile())) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("chromium ended before it opened its debugging port");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill();
            throw std::runtime_error("chromium did not open its debugging port within 30 s");
        }
        std::this_thread::sleep_for(20ms);
    }
    // The file is written in one go, but give the second line a moment.
    std::this_thread::sleep_for(50ms);
}

void ChromiumProcess::kill() {
    killGroup(m_pid);
}

} // namespace tavro::testing

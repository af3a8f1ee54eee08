#include "program/browsers_report.h"

#include "browsers/extension/extension_browsers.h"
#include "browsers/mirror/mirrored_browser.h"
#include "browsers/wire/socket_place.h"
#include "platform/posix/browser_list.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace tavro {

namespace {

// browsers.py reads a few files for each browser, after python3's start: a
// second or more on a busy machine; one that takes longer has something wrong.
constexpr std::chrono::milliseconds ListDeadline{10000};

std::string reportPath() {
    const std::string socket = wire::socketPath();
    if (socket.empty())
        return {};
    return std::filesystem::path(socket).parent_path() / "protection";
}

// What the running program last wrote, when it still runs.
std::optional<Protection> runningProtection() {
    const std::string path = reportPath();
    if (path.empty())
        return std::nullopt;
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    const auto parsed = parseProtection(text.str());
    // A program that ended without removing it (killed) left it behind.
    if (!parsed || parsed->second <= 0 ||
        (::kill(static_cast<pid_t>(parsed->second), 0) != 0 && errno != EPERM))
        return std::nullopt;
    return parsed->first;
}

} // namespace

Protection protectionNow(browsers::MirroredBrowser& chromium, browsers::MirroredBrowser& firefox,
                         const extension::ExtensionBrowsers* extension) {
    Protection now;
    now.guardedChromium = chromium.mirror().connected();
    now.guardedFirefox = firefox.mirror().connected();
    if (extension) {
        for (const std::string& family : extension->families()) {
            if (family == "chromium")
                ++now.chromiumProfiles;
            else if (family == "firefox")
                ++now.firefoxProfiles;
        }
    }
    return now;
}

std::vector<InstalledBrowser> installedBrowsers(bool loud) {
    const std::string script = browserListScript();
    if (script.empty()) {
        if (loud)
            std::fprintf(stderr,
                         "tavro-popup-blocker: browsers.py was not found; only the browsers the program "
                         "watches are listed\n");
        return {};
    }
    const auto listed = runBrowserList(script, ListDeadline);
    if (!listed) {
        if (loud)
            std::fprintf(stderr, "tavro-popup-blocker: %s list did not answer\n", script.c_str());
        return {};
    }
    return parseBrowserList(*listed);
}

ProtectionReport::ProtectionReport() : m_path(reportPath()) {}

ProtectionReport::~ProtectionReport() {
    if (!m_path.empty() && m_written)
        ::unlink(m_path.c_str());
}

void ProtectionReport::update(const Protection& now) {
    if (m_path.empty() || m_written == now)
        return;
    // Written aside and moved in place, so that a reader never sees half of it.
    const std::string aside = m_path + ".new";
    {
        std::ofstream out(aside, std::ios::trunc);
        out << protectionText(now, static_cast<long>(::getpid()));
        if (!out.flush())
            return;
    }
    if (std::rename(aside.c_str(), m_path.c_str()) == 0)
        m_written = now;
}

int printBrowsers() {
    const std::optional<Protection> running = runningProtection();
    const std::vector<BrowserRow> rows = browserRows(installedBrowsers(true), running);
    std::fputs(formatBrowserTable(rows).c_str(), stdout);
    if (!running)
        std::fprintf(stderr, "tavro-popup-blocker: the program is not running; no browser is protected\n");
    return running && running->any() ? 0 : 1;
}

} // namespace tavro

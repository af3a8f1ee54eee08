#pragma once

#include "platform/browser_status.h"

#include <string>
#include <vector>

namespace tavro::browsers {
class MirroredBrowser;
}
namespace tavro::extension {
class ExtensionBrowsers;
}

namespace tavro {

// What the program watches now: the guarded browsers, and the profiles whose
// extension has said which browser it runs in. From the user-interface thread.
Protection protectionNow(browsers::MirroredBrowser& chromium, browsers::MirroredBrowser& firefox,
                         const extension::ExtensionBrowsers* extension);

// The browsers installed, as browsers.py lists them; none when it cannot be
// found or run (a message on standard error says so when loud).
std::vector<InstalledBrowser> installedBrowsers(bool loud);

// Keeps the file through which `--browsers` learns what the running program
// protects, beside the extension's socket, up to date; removes it at the end.
class ProtectionReport {
public:
    ProtectionReport();
    ~ProtectionReport();
    ProtectionReport(const ProtectionReport&) = delete;
    ProtectionReport& operator=(const ProtectionReport&) = delete;

    // Writes the file when what is protected has changed.
    void update(const Protection& now);

private:
    std::string m_path;
    std::optional<Protection> m_written;
};

// `tavro-popup-blocker --browsers`: prints the table and returns the exit
// status, 0 when at least one browser is protected now.
int printBrowsers();

} // namespace tavro

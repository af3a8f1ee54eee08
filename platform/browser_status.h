#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavro {

// One browser found on the machine, as one line of `browsers.py list` tells
// of it.
struct InstalledBrowser {
    std::string family; // "chromium", "chrome", "firefox-esr", ...
    std::string how;    // "package", "snap" or "flatpak"
    std::string executable;
    std::string route;  // "policy", "user", "none" or "unsupported"
    std::string action; // what would protect it
};

// What the running program watches now.
struct Protection {
    bool guardedChromium = false;
    bool guardedFirefox = false;
    // Profiles whose extension is connected, by the family their hello named.
    int chromiumProfiles = 0;
    int firefoxProfiles = 0;

    bool any() const {
        return guardedChromium || guardedFirefox || chromiumProfiles > 0 || firefoxProfiles > 0;
    }
    bool operator==(const Protection&) const = default;
};

// One line of the "Browsers" view and of --browsers.
struct BrowserRow {
    std::string browser;
    std::string installedAs;
    std::string extension;
    std::string guarded;
    std::string action;
};

inline constexpr const char* BrowserColumns[] = {"Browser", "Installed as", "Extension", "Guarded profile",
                                                 "What to do"};

// The lines of `browsers.py list`; lines that are not six tab-separated
// fields are passed over.
std::vector<InstalledBrowser> parseBrowserList(std::string_view text);

// The table: each browser found, with what protects it now; running is
// empty when the program does not run. A guarded browser or a connected
// extension whose browser was not found still has a line of its own.
std::vector<BrowserRow> browserRows(const std::vector<InstalledBrowser>& found,
                                    const std::optional<Protection>& running);

// The table as text for a terminal: a heading, then the rows, columns
// aligned with two spaces between them.
std::string formatBrowserTable(const std::vector<BrowserRow>& rows);

// The small file through which the running program tells another process
// what it protects; pid is the program's process.
std::string protectionText(const Protection& protection, long pid);
// Empty when the text is not such a file.
std::optional<std::pair<Protection, long>> parseProtection(std::string_view text);

} // namespace tavro

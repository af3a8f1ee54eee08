#include "platform/browser_status.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>

namespace tavro {

namespace {

constexpr std::string_view ProtectionHeading = "tavro-popup-blocker protection 1";

struct Engine {
    const char* name;  // as the extension's hello names it
    const char* shown; // a line for a browser that was not found
    bool Protection::*guarded;
    int Protection::*profiles;
};

constexpr std::array<Engine, 2> Engines{{
    {"chromium", "Chromium family", &Protection::guardedChromium, &Protection::chromiumProfiles},
    {"firefox", "Firefox family", &Protection::guardedFirefox, &Protection::firefoxProfiles},
}};

std::string engineOf(const std::string& family) {
    return family.starts_with("firefox") || family == "librewolf" ? "firefox" : "chromium";
}

std::string shownName(const std::string& family) {
    static const std::map<std::string, std::string, std::less<>> names{
        {"chromium", "Chromium"},
        {"chrome", "Google Chrome"},
        {"chrome-beta", "Google Chrome Beta"},
        {"chrome-unstable", "Google Chrome Dev"},
        {"brave", "Brave"},
        {"edge", "Microsoft Edge"},
        {"vivaldi", "Vivaldi"},
        {"firefox", "Firefox"},
        {"firefox-esr", "Firefox ESR"},
        {"firefox-developer", "Firefox Developer Edition"},
        {"firefox-nightly", "Firefox Nightly"},
        {"librewolf", "LibreWolf"},
    };
    const auto it = names.find(family);
    return it != names.end() ? it->second : family;
}

std::string installedAs(const std::string& how) {
    return how == "flatpak" ? "Flatpak" : how;
}

std::string profilesText(int n) {
    return std::to_string(n) + (n == 1 ? " profile" : " profiles");
}

// The browser the guarded profile runs in, as the start script picks it:
// Debian's Chromium before the other Chromium-family packages, Firefox ESR
// before Firefox. Only a package's browser can be started with a port.
std::optional<std::size_t> guardedRow(const std::vector<InstalledBrowser>& found, const std::string& engine) {
    const std::vector<std::string> order =
        engine == "firefox" ? std::vector<std::string>{"firefox-esr", "firefox"}
                            : std::vector<std::string>{"chromium", "chrome", "brave", "edge"};
    for (const std::string& family : order) {
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i].family == family && found[i].how == "package")
                return i;
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace

std::vector<InstalledBrowser> parseBrowserList(std::string_view text) {
    std::vector<InstalledBrowser> found;
    for (std::string_view line : split(text, '\n')) {
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const auto fields = split(line, '\t');
        if (fields.size() != 6 || fields[0].empty())
            continue;
        found.push_back({std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                         std::string(fields[4]), std::string(fields[5])});
    }
    return found;
}

std::vector<BrowserRow> browserRows(const std::vector<InstalledBrowser>& found,
                                    const std::optional<Protection>& running) {
    std::vector<BrowserRow> rows;
    for (const InstalledBrowser& b : found)
        rows.push_back({shownName(b.family), installedAs(b.how), "", "-", b.action});

    for (const Engine& engine : Engines) {
        std::vector<std::size_t> reachable;
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (engineOf(found[i].family) == engine.name && found[i].route != "unsupported")
                reachable.push_back(i);
        }
        const int profiles = running ? (*running).*engine.profiles : 0;
        const bool guarded = running && (*running).*engine.guarded;
        const auto guardedAt = guardedRow(found, engine.name);

        for (std::size_t i = 0; i < found.size(); ++i) {
            if (engineOf(found[i].family) != engine.name)
                continue;
            BrowserRow& row = rows[i];
            if (!running)
                row.extension = "program not running";
            else if (found[i].route == "unsupported")
                row.extension = "cannot reach the program";
            else if (profiles == 0)
                row.extension = "not connected";
            else if (reachable.size() == 1) {
                row.extension = "connected, " + profilesText(profiles);
                row.action = "nothing to do";
            } else {
                // The extension says which family it runs in, not which of
                // the family's browsers.
                row.extension =
                    "connected in one of the " + std::string(engine.shown) + ", " + profilesText(profiles);
            }
        }
        if (guardedAt)
            rows[*guardedAt].guarded = !running ? "program not running" : guarded ? "watched" : "not watched";

        const bool profilesUnplaced = profiles > 0 && reachable.empty();
        const bool guardedUnplaced = guarded && !guardedAt;
        if (profilesUnplaced || guardedUnplaced) {
            rows.push_back({engine.shown, "not found",
                            profilesUnplaced ? "connected, " + profilesText(profiles) : "not connected",
                            guardedUnplaced ? "watched" : "-", "nothing to do"});
        }
    }
    return rows;
}

std::string formatBrowserTable(const std::vector<BrowserRow>& rows) {
    std::vector<std::array<std::string, 5>> lines;
    lines.push_back(
        {BrowserColumns[0], BrowserColumns[1], BrowserColumns[2], BrowserColumns[3], BrowserColumns[4]});
    for (const BrowserRow& r : rows)
        lines.push_back({r.browser, r.installedAs, r.extension, r.guarded, r.action});
    std::array<std::size_t, 5> widths{};
    for (const auto& line : lines) {
        for (std::size_t c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    }
    std::string text;
    for (const auto& line : lines) {
        for (std::size_t c = 0; c + 1 < widths.size(); ++c)
            text += line[c] + std::string(widths[c] - line[c].size() + 2, ' ');
        text += line.back() + "\n";
    }
    return text;
}

std::string protectionText(const Protection& p, long pid) {
    return std::string(ProtectionHeading) + "\npid " + std::to_string(pid) + "\nguarded-chromium " +
           (p.guardedChromium ? "1" : "0") + "\nguarded-firefox " + (p.guardedFirefox ? "1" : "0") +
           "\nextension-chromium " + std::to_string(p.chromiumProfiles) + "\nextension-firefox " +
           std::to_string(p.firefoxProfiles) + "\n";
}

std::optional<std::pair<Protection, long>> parseProtection(std::string_view text) {
    const auto lines = split(text, '\n');
    if (lines.empty() || lines[0] != ProtectionHeading)
        return std::nullopt;
    std::map<std::string_view, long, std::less<>> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        const std::size_t space = lines[i].find(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        const std::string_view number = lines[i].substr(space + 1);
        long value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size() || value < 0)
            return std::nullopt;
        values[lines[i].substr(0, space)] = value;
    }
    for (const char* key :
         {"pid", "guarded-chromium", "guarded-firefox", "extension-chromium", "extension-firefox"}) {
        if (!values.contains(key))
            return std::nullopt;
    }
    Protection p;
    p.guardedChromium = values["guarded-chromium"] != 0;
    p.guardedFirefox = values["guarded-firefox"] != 0;
    p.chromiumProfiles = static_cast<int>(values["extension-chromium"]);
    p.firefoxProfiles = static_cast<int>(values["extension-firefox"]);
    return std::pair{p, values["pid"]};
}

} // namespace tavro

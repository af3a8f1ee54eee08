#pragma once

#include <span>
#include <string_view>

// The design of the main window: every control, its place and its texts, as
// the window was drawn. The real window is built from these tables, and the
// tests hold the built window against them.
namespace tavro {

inline constexpr std::string_view AppTitle = "Tavro Popup Blocker";
inline constexpr int VersionMajor = 2;
inline constexpr int VersionMinor = 7;
inline constexpr int VersionRevision = 0;

// 1 twip = 1/1440 inch: 15 twips per pixel at 96 dots per inch.
inline constexpr int TwipsPerPixel = 15;
constexpr int twipsToPixels(int twips) {
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

inline constexpr int ClientWidthTwips = 5550;
inline constexpr int ClientHeightTwips = 5160;
inline constexpr int WindowHelpContext = 10;
inline constexpr int Timer1Interval = 600;

enum class ControlKind { PictureBox, CommandButton, Frame, CheckBox, HyperLink, ListBox, Image, Timer, Inet };

// The window itself is the container "".
struct ControlDesign {
    std::string_view name;
    ControlKind kind;
    std::string_view container;
    int left, top, width, height; // twips, relative to the container
    int tabIndex;                 // -1 for controls that take no place in the tab order
    int helpContextId;            // 0 = none
    std::string_view caption;
    std::string_view toolTip;
    bool visible;
    // For link labels: the path on the vendor's web site; "" is the site's
    // address with no path at all.
    std::string_view hyperlinkPath = {};
};

struct MenuDesign {
    std::string_view name;
    std::string_view caption;
    std::string_view parent; // "" for the top-level menu
    bool visible;
    int helpContextId;
};

std::span<const ControlDesign> controlDesigns();
std::span<const MenuDesign> menuDesigns();
// nullptr when there is no control of that name.
const ControlDesign* findControl(std::string_view name);
const MenuDesign* findMenu(std::string_view name);

// Link labels: the colour of an unvisited link (0x004000, dark green) and the font.
inline constexpr unsigned LinkColorRgb = 0x004000;
inline constexpr std::string_view LinkFontFamily = "MS Sans Serif";
inline constexpr double LinkFontPointSize = 8.25;

} // namespace tavro

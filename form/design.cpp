#include "form/design.h"

#include <algorithm>
#include <array>

namespace tavro {

namespace {

using enum ControlKind;

constexpr std::string_view BlockedTip = "Double click domain in this list to add to the allowed domains list";
constexpr std::string_view AllowedTip = "Double click domain in this list to Remove from Allowed Domains";

constexpr std::array controls{
    ControlDesign{"Picture1", PictureBox, "", 120, 120, 1935, 615, 9, 0, "", "", true},
    ControlDesign{"cmd_Enable", CommandButton, "", 2160, 120, 975, 255, 5, 60, "Disable",
                  "Disables program from blocking IE banner popup ads", true},
    ControlDesign{"cmd_Hide", CommandButton, "", 3360, 120, 975, 255, 3, 70, "Hide", "Hide this screen",
                  true},
    ControlDesign{"Command1", CommandButton, "", 4560, 120, 855, 255, 14, 0, "Help", "Help", true},
    ControlDesign{"Command2", CommandButton, "", 2160, 480, 1695, 255, 8, 130, "Check for Updates",
                  "Checks to see if new version is available", true},
    ControlDesign{"cmd_Quit", CommandButton, "", 4080, 480, 1335, 255, 4, 80, "Exit Program",
                  "Exit this software completely", true},
    ControlDesign{"Frame1", Frame, "", 120, 840, 3675, 975, 0, 0, "Options", "", true},
    ControlDesign{"chkBeep", CheckBox, "Frame1", 240, 240, 1515, 195, 1, 20, "Beep on Block",
                  "Beep when blocking an IE browser popup AD", true},
    ControlDesign{"chkHideOnStart", CheckBox, "Frame1", 240, 480, 2655, 195, 2, 40, "Hide at Startup",
                  "Hides this screen when program starts", true},
    ControlDesign{"chkMenubar", CheckBox, "Frame1", 240, 720, 2895, 195, 6, 110,
                  "Aggressive Blocking (see Help)", "", true},
    ControlDesign{"Frame2", Frame, "", 3840, 840, 1575, 975, 7, 0, "Explore Tavro", "", true},
    ControlDesign{"lnkSearch", HyperLink, "", 3960, 1080, 1390, 220, 15, 0, "Search the Internet", "", true,
                  ""},
    ControlDesign{"lnkFeedback", HyperLink, "Frame2", 120, 480, 1240, 220, 16, 0, "Leave Feedback", "", true,
                  "/feedback"},
    ControlDesign{"lnkRefer", HyperLink, "Frame2", 120, 720, 985, 220, 17, 0, "Refer a friend", "", true,
                  "/refer"},
    ControlDesign{"Frame3", Frame, "", 120, 1920, 5295, 1575, 10, 90,
                  "I blocked these (Double-click domain to add to Allowed Domains)", BlockedTip, true},
    ControlDesign{"lstBlockedUrls", ListBox, "", 240, 2160, 5055, 1035, 12, 90, "", BlockedTip, true},
    ControlDesign{"Frame4", Frame, "", 120, 3600, 5295, 1455, 11, 100,
                  "Allowed Domains (Double-click domain to remove)", AllowedTip, true},
    ControlDesign{"lstWhiteList", ListBox, "Frame4", 120, 240, 5055, 1035, 13, 100, "", AllowedTip, true},
    ControlDesign{"imgDisabled", Image, "", 120, 1560, 240, 240, -1, 0, "", "", false},
    ControlDesign{"imgEnabled", Image, "", 480, 1560, 240, 240, -1, 0, "", "", false},
    ControlDesign{"Timer1", Timer, "", 0, 0, 0, 0, -1, 0, "", "", false},
    ControlDesign{"Inet1", Inet, "", 0, 0, 0, 0, -1, 0, "", "", false},
};

constexpr std::array menus{
    MenuDesign{"mnuTrayIconPopup", "Menu", "", false, 210},
    MenuDesign{"mnuShow", "Show", "mnuTrayIconPopup", true, 0},
    MenuDesign{"mnuEnable", "Disable", "mnuTrayIconPopup", true, 0},
    MenuDesign{"mnuAbout", "About", "mnuTrayIconPopup", true, 0},
    MenuDesign{"mnuLine", "-", "mnuTrayIconPopup", true, 0},
    MenuDesign{"mnuHelp", "Help", "mnuTrayIconPopup", true, 0},
    MenuDesign{"mnuHide", "Hide Menu", "mnuTrayIconPopup", false, 0},
    MenuDesign{"mnuExit", "Exit", "mnuTrayIconPopup", true, 0},
};

template <typename Range>
auto findByName(const Range& range, std::string_view name) -> decltype(&*range.begin()) {
    const auto it = std::ranges::find(range, name, &std::ranges::range_value_t<Range>::name);
    return it == range.end() ? nullptr : &*it;
}

} // namespace

std::span<const ControlDesign> controlDesigns() {
    return controls;
}
std::span<const MenuDesign> menuDesigns() {
    return menus;
}
const ControlDesign* findControl(std::string_view name) {
    return findByName(controls, name);
}
const MenuDesign* findMenu(std::string_view name) {
    return findByName(menus, name);
}

} // namespace tavro

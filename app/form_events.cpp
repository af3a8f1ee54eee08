#include "app/form_events.h"

#include "allowed/list_editing.h"
#include "app/startup.h"
#include "app/visibility.h"
#include "blocking/popup_scan.h"
#include "form/failure_rule.h"
#include "form/quellit.h"
#include "help/about.h"
#include "help/help.h"
#include "help/update_check.h"
#include "tray/blocking_switch.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>

namespace tavro {

namespace {

enum class Gesture { Click, DblClick };

struct Route {
    Gesture gesture;
    std::string_view control;
    void (*handler)(Quellit&);
};

// Every control and menu item that has a handler, one line each. A control
// that is not listed (frames, labels, the other check boxes) has none.
constexpr std::array routes{
    Route{Gesture::Click, "cmd_Hide", cmd_Hide_Click},
    Route{Gesture::Click, "cmd_Quit", cmd_Quit_Click},
    Route{Gesture::Click, "mnuShow", mnuShow_Click},
    Route{Gesture::Click, "mnuExit", mnuExit_Click},
    Route{Gesture::Click, "cmd_Enable", cmd_Enable_Click},
    Route{Gesture::Click, "mnuEnable", mnuEnable_Click},
    Route{Gesture::Click, "chkMenubar", chkMenubar_Click},
    Route{Gesture::Click, "Command2", Command2_Click},
    Route{Gesture::Click, "mnuAbout", mnuAbout_Click},
    Route{Gesture::Click, "Picture1", Picture1_Click},
    Route{Gesture::Click, "Command1", Command1_Click},
    Route{Gesture::Click, "mnuHelp", mnuHelp_Click},
    Route{Gesture::DblClick, "lstBlockedUrls", lstBlockedUrls_DblClick},
    Route{Gesture::DblClick, "lstWhiteList", lstWhiteList_DblClick},
};

void dispatch(Quellit& form, Gesture gesture, std::string_view control) {
    const auto route = std::ranges::find_if(
        routes, [&](const Route& r) { return r.gesture == gesture && r.control == control; });
    if (route != routes.end())
        underFailureRule(form, [&] { route->handler(form); });
}

} // namespace

void QuellitEvents::Form_Load() {
    underFailureRule(m_form, [this] { tavro::Form_Load(m_form); });
}

void QuellitEvents::Form_Paint() {
    underFailureRule(m_form, [this] { tavro::Form_Paint(m_form); });
}

void QuellitEvents::Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode) {
    underFailureRule(m_form, [&] { tavro::Form_QueryUnload(m_form, cancel, unloadMode); });
}

void QuellitEvents::Form_Unload(std::int16_t& cancel) {
    underFailureRule(m_form, [&] { tavro::Form_Unload(m_form, cancel); });
}

void QuellitEvents::DisplayLost() {
    // Called while the process ends: whatever escapes here would abort it.
    try {
        tavro::SaveOnLostDisplay(m_form);
    } catch (const std::exception&) {
    }
}

void QuellitEvents::Timer1_Timer() {
    underFailureRule(m_form, [this] { tavro::Timer1_Timer(m_form); });
}

void QuellitEvents::Click(const std::string& control) {
    dispatch(m_form, Gesture::Click, control);
}

void QuellitEvents::DblClick(const std::string& control) {
    dispatch(m_form, Gesture::DblClick, control);
}

void QuellitEvents::HelpKey(const std::string& focusedControl) {
    underFailureRule(m_form, [&] { ShowHelpTopic(m_form, focusedControl); });
}

} // namespace tavro

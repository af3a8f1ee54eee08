#include "app/visibility.h"

#include "allowed/allowed_domains.h"
#include "app/settings.h"
#include "form/quellit.h"
#include "help/context_ids.h"
#include "tray/tray_icon.h"

namespace tavro {

void Form_Paint(Quellit& form) {
    if (!form.StartupHidePending)
        return;
    // Read from the store, not the check box: ticking "Hide at Startup" during a
    // run is meant for the next start.
    if (StoredHideOnStart(form) == 1) {
        form.window().hide();
        form.StartupHidePending = false;
    }
}

void cmd_Hide_Click(Quellit& form) {
    form.window().hide();
}

void mnuShow_Click(Quellit& form) {
    form.window().show();
}

void Form_QueryUnload(Quellit& form, std::int16_t& cancel, std::int16_t unloadMode) {
    if (unloadMode == static_cast<std::int16_t>(CloseReason::User)) {
        form.window().hide();
        cancel = 1;
    }
}

namespace {

void exitProgram(Quellit& form) {
    // Saved before the close as well, so that the list is on disk even if the
    // close does not get as far as the unload.
    SaveAllowedDomains(form);
    form.window().close(CloseReason::Program);
}

} // namespace

void cmd_Quit_Click(Quellit& form) {
    exitProgram(form);
}

void mnuExit_Click(Quellit& form) {
    exitProgram(form);
}

void Form_Unload(Quellit& form, std::int16_t&) {
    HelpQuit(form);
    SaveOptions(form);
    SaveAllowedDomains(form);
    DeleteTrayIcon(form);
    RemoveWindowHook(form);
}

} // namespace tavro

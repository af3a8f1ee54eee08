#include "app/visibility.h"

#include "allowed/allowed_domains.h"
#include "app/settings.h"
#include "form/failure_rule.h"
#include "form/quellit.h"
#include "help/context_ids.h"
#include "tray/tray_icon.h"

#include <exception>
#include <vector>

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
        return;
    }
    // Only the Exit commands are asked for in the window; at the session's end
    // or on a signal a box could wait for nobody until the process is killed.
    form.endingUnattended = unloadMode != static_cast<std::int16_t>(CloseReason::Program);
}

namespace {

void exitProgram(Quellit& form) {
    // Saved before the close as well, so that the list is on disk even if the
    // close does not get as far as the unload. A failure is left to the
    // unload, which saves the list again and reports it if it persists; here
    // it would end the program before the options were saved.
    try {
        SaveAllowedDomains(form);
    } catch (const std::exception&) {
    }
    form.window().close(CloseReason::Program);
}

// Runs one step of the unload, keeping its failure for the report instead of
// letting it skip the steps after it.
template <typename Step> void attempt(std::vector<Failure>& failures, Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
        failures.push_back(currentFailure());
    }
}

// The options and the list, each saved whatever became of the other.
std::vector<Failure> saveBoth(Quellit& form) {
    std::vector<Failure> failures;
    attempt(failures, [&] { SaveOptions(form); });
    attempt(failures, [&] { SaveAllowedDomains(form); });
    return failures;
}

} // namespace

void cmd_Quit_Click(Quellit& form) {
    exitProgram(form);
}

void mnuExit_Click(Quellit& form) {
    exitProgram(form);
}

void Form_Unload(Quellit& form, std::int16_t&) {
    // The saves come first: the help viewer is another program, and however
    // it answers, or fails to, must not stand between the user's data and the disk.
    std::vector<Failure> failures = saveBoth(form);
    attempt(failures, [&] {
        HelpQuit(form);
        DeleteTrayIcon(form);
        RemoveWindowHook(form);
    });
    if (!failures.empty())
        endOnFailures(form, failures);
}

void SaveOnLostDisplay(Quellit& form) {
    // A failure being reported ends the program by its own rule, unsaved.
    if (endingOnFailure(form))
        return;
    form.endingUnattended = true;
    for (const Failure& failure : saveBoth(form))
        showFailure(form, failure);
}

} // namespace tavro

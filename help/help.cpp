#include "help/help.h"

#include "form/design.h"
#include "form/quellit.h"
#include "platform/error.h"

#include <cstdint>

namespace tavro {

namespace {

// A failure of the viewer call is the user's to read, never the end of the
// program: the handler shows its description and simply ends.
void reportViewerError(Quellit& form, const Error& error) {
    form.sys.toolkit.messageBox(
        {error.description(), MessageButtons::Ok, MessageIcon::None, std::string(AppTitle)});
}

} // namespace

void ShowHelpContents(Quellit& form) {
    Window& window = form.window();
    if (form.contextIds.HelpFile.empty()) {
        form.sys.toolkit.messageBox(
            {std::string(NoHelpMessage), MessageButtons::Ok, MessageIcon::Information, window.caption()});
        return;
    }
    try {
        // The handle of the moment, not the one kept for the quit request.
        form.sys.helpViewer.WinHelp(window.hWnd(), form.contextIds.HelpFile, HELP_CONTENTS, 0);
    } catch (const Error& error) {
        reportViewerError(form, error);
    }
}

void Command1_Click(Quellit& form) {
    ShowHelpContents(form);
}

void mnuHelp_Click(Quellit& form) {
    ShowHelpContents(form);
}

int HelpContextOf(std::string_view name) {
    // Walk outwards through the containers; the design has no cycles, but a
    // bound keeps a faulty table from hanging the key press.
    for (int depth = 0; depth < 8 && !name.empty(); ++depth) {
        if (const ControlDesign* control = findControl(name)) {
            if (control->helpContextId != 0)
                return control->helpContextId;
            name = control->container;
        } else if (const MenuDesign* menu = findMenu(name)) {
            if (menu->helpContextId != 0)
                return menu->helpContextId;
            name = menu->parent;
        } else {
            break;
        }
    }
    return WindowHelpContext;
}

void ShowHelpTopic(Quellit& form, const std::string& focusedControl) {
    // Without a help file the key has nothing to show.
    if (form.contextIds.HelpFile.empty())
        return;
    const auto topic = static_cast<std::uint32_t>(HelpContextOf(focusedControl));
    try {
        form.sys.helpViewer.WinHelp(form.window().hWnd(), form.contextIds.HelpFile, HELP_CONTEXT, topic);
    } catch (const Error& error) {
        reportViewerError(form, error);
    }
}

} // namespace tavro

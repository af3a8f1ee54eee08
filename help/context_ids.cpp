#include "help/context_ids.h"

#include "form/quellit.h"

#include <string>

namespace tavro {

void HelpSetup(Quellit& form, WindowHandle owner) {
    form.contextIds.helpOwner = owner;
    const std::string folder = form.sys.toolkit.programFolder();

    // Only the folder's own last character decides: here a name may end in
    // blanks, so "/opt/x/  " is a folder inside x and still wants its separator.
    const bool endsWithSeparator = !folder.empty() && folder.back() == '/';
    form.contextIds.HelpFile = folder + (endsWithSeparator ? "" : "/") + HelpFileName;
}

void HelpQuit(Quellit& form) {
    // The viewer ignores the data of a quit request.
    form.sys.helpViewer.WinHelp(form.contextIds.helpOwner, form.contextIds.HelpFile, HELP_QUIT, 0);
}

} // namespace tavro

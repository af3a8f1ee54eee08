#include "help/context_ids.h"

#include "app/quellit.h"

#include <string>

namespace tavro {

void HelpSetup(Quellit& form, WindowHandle owner) {
    form.contextIds.helpOwner = owner;
    const std::string folder = form.sys.toolkit.programFolder();

    // The separator test looks at a trimmed copy, but the join keeps the folder
    // as the platform gave it.
    const auto last = folder.find_last_not_of(' ');
    const bool endsWithSeparator = last != std::string::npos && folder[last] == '/';
    form.contextIds.HelpFile = folder + (endsWithSeparator ? "" : "/") + HelpFileName;
}

void HelpQuit(Quellit& form) {
    // The viewer ignores the data of a quit request.
    form.sys.helpViewer.WinHelp(form.contextIds.helpOwner, form.contextIds.HelpFile, HELP_QUIT, 0);
}

} // namespace tavro

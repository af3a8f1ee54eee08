#include "help/context_ids.h"

#include "form/program_facts.h"
#include "form/quellit.h"

#include <string>

namespace tavro {

void HelpSetup(Quellit& form, WindowHandle owner) {
    form.contextIds.helpOwner = owner;
    form.contextIds.HelpFile = programFilePath(form, HelpFileName);
}

void HelpQuit(Quellit& form) {
    // The viewer ignores the data of a quit request.
    form.sys.helpViewer.WinHelp(form.contextIds.helpOwner, form.contextIds.HelpFile, HELP_QUIT, 0);
}

} // namespace tavro

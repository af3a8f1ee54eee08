#include "app/startup.h"

#include "allowed/allowed_domains.h"
#include "app/settings.h"
#include "form/design.h"
#include "form/program_facts.h"
#include "form/quellit.h"
#include "help/context_ids.h"
#include "tray/tray_icon.h"

#include <string>

namespace tavro {

void Form_Load(Quellit& form) {
    HelpSetup(form, form.window().hWnd());

    // Before any other step: the running instance owns the tray icon, the
    // settings and the allowed-domain file, and is left exactly as it is.
    if (form.sys.toolkit.anotherInstanceRunning())
        form.sys.toolkit.terminate(0);

    form.window().setCaption(versionText(AppTitle, VersionParts::MajorMinor));
    AddTrayIcon(form);
    InstallWindowHook(form);
    LoadOptions(form);
    LoadAllowedDomains(form);
    form.BlockingEnabled = true;
    form.StartupHidePending = true;
}

} // namespace tavro

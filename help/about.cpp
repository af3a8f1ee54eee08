#include "help/about.h"

#include "form/design.h"
#include "form/failure_rule.h"
#include "form/program_facts.h"
#include "form/quellit.h"

#include <string>

namespace tavro {

void mnuAbout_Click(Quellit& form) {
    form.sys.toolkit.messageBox({versionText(AppTitle, VersionParts::WithRevision), MessageButtons::Ok,
                                 MessageIcon::None, std::string(AppTitle)});
}

void Picture1_Click(Quellit& form) {
    Picture1_Click(form, WebSite);
}

void Picture1_Click(Quellit& form, std::string_view webSite) {
    // A missing browser is no reason to end the program: that would lose the
    // allowed domains and options changed since start. Report it the way an
    // unexpected failure is reported, and carry on.
    try {
        const auto browser = form.sys.browser.createBrowser();
        browser->Navigate2(baseAddress(webSite) + "/");
        browser->setVisible(true);
    } catch (const std::exception&) {
        showFailure(form, currentFailure());
    }
}

} // namespace tavro

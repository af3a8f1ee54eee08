#include "help/update_check.h"

#include "form/conversion.h"
#include "form/design.h"
#include "form/quellit.h"
#include "help/web_links.h"

#include <exception>
#include <string>

namespace tavro {

void Command2_Click(Quellit& form) {
    Command2_Click(form, UpdateServer);
}

void Command2_Click(Quellit& form, std::string_view updateServer) {
    // Armed before the first step: whatever fails below, the fetch, the
    // conversion or the browser, ends in the one failure message.
    try {
        const std::string server = baseAddress(updateServer);
        const std::string body = form.sys.http.OpenURL(server + "/version.txt");
        if (toInteger(body) == OwnVersionNumber) {
            form.sys.toolkit.messageBox({std::string(CurrentVersionText), MessageButtons::Ok,
                                         MessageIcon::None, std::string(AppTitle)});
            return;
        }
        // An older number on the server is not told apart from a newer one:
        // the upgrade page says what to do either way.
        const auto browser = form.sys.browser.createBrowser();
        browser->Navigate2(server + "/upgrade.html");
        browser->setVisible(true);
    } catch (const std::exception& error) {
        // The title tells what went wrong, above the fixed text.
        form.sys.toolkit.messageBox(
            {std::string(UpdateFailureText), MessageButtons::Ok, MessageIcon::Critical, error.what()});
    }
}

} // namespace tavro

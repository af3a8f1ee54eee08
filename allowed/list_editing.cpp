#include "allowed/list_editing.h"

#include "blocking/list_lookup.h"
#include "form/quellit.h"

#include <string>

namespace tavro {

namespace {

// Yes/No, no icon, the application title; Yes is the default button.
bool confirmed(Quellit& form, std::string question) {
    const MessageBoxRequest request{std::move(question), MessageButtons::YesNo, MessageIcon::None, {}};
    return form.sys.toolkit.messageBox(request) == MessageAnswer::Yes;
}

} // namespace

// With no entry selected (a click below the last entry, or right after a
// removal) there is nothing to offer, so nothing is asked. The popup scan keeps
// running while the question is open and may remove the selected entry; the
// answer then applies to nothing, rather than to whatever entry took its place.

void lstBlockedUrls_DblClick(Quellit& form) {
    ListBox& blocked = form.lstBlockedUrls;
    if (blocked.count() == 0 || blocked.selected() == ListBox::NoSelection)
        return;
    const std::string domain = blocked.text(blocked.selected());
    if (!confirmed(form, "Add " + domain + " to Allowed Domains?"))
        return;

    const std::int16_t selected = blocked.selected();
    if (selected == ListBox::NoSelection)
        return;
    const std::string text = blocked.text(selected);
    if (!ListContains(form.lstWhiteList, text))
        form.lstWhiteList.append(text);
    blocked.removeAt(selected);
}

void lstWhiteList_DblClick(Quellit& form) {
    ListBox& allowed = form.lstWhiteList;
    if (allowed.count() == 0 || allowed.selected() == ListBox::NoSelection)
        return;
    const std::string domain = allowed.text(allowed.selected());
    if (!confirmed(form, "Remove " + domain + " from Allowed Domains?"))
        return;

    const std::int16_t selected = allowed.selected();
    if (selected != ListBox::NoSelection)
        allowed.removeAt(selected);
}

} // namespace tavro

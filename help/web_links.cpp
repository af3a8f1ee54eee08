#include "help/web_links.h"

#include "form/design.h"

namespace tavro {

std::string baseAddress(std::string_view configured) {
    while (!configured.empty() && configured.back() == '/')
        configured.remove_suffix(1);
    return std::string(configured);
}

std::string linkTarget(std::string_view controlName, std::string_view webSite) {
    const ControlDesign* control = findControl(controlName);
    if (control == nullptr || control->kind != ControlKind::HyperLink)
        return {};
    return baseAddress(webSite) + std::string(control->hyperlinkPath);
}

} // namespace tavro

#include "form/program_facts.h"

#include "form/quellit.h"

namespace tavro {

std::string versionText(std::string_view product, VersionParts parts, int major, int minor, int revision) {
    std::string text =
        std::string(product) + " Version " + std::to_string(major) + "." + std::to_string(minor);
    if (parts == VersionParts::WithRevision)
        text += "." + std::to_string(revision);
    return text;
}

std::string programFilePath(const Quellit& form, std::string_view fileName) {
    std::string path = form.sys.toolkit.programFolder();
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path.append(fileName);
}

} // namespace tavro

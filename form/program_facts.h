#pragma once

#include "form/design.h"

#include <string>
#include <string_view>

namespace tavro {

class Quellit;

enum class VersionParts { MajorMinor, WithRevision };

// "<product> Version <major>.<minor>", as the window's caption reads, or with
// ".<revision>" after it, as the about box reads.
std::string versionText(std::string_view product, VersionParts parts, int major = VersionMajor,
                        int minor = VersionMinor, int revision = VersionRevision);

// The path of a file in the program's folder. Only the folder's own last
// character decides whether a separator is added: here a name may end in
// blanks, so "/opt/x/  " is a folder inside x and still wants its separator.
std::string programFilePath(const Quellit& form, std::string_view fileName);

} // namespace tavro

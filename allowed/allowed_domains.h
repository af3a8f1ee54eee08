#pragma once

#include <string>

namespace tavro {

class Quellit;

inline constexpr const char* AllowedDomainsFileName = "Whitelst.txt";
// Beside the file, the copy of a file that was not loaded whole.
inline constexpr const char* AllowedDomainsBackupSuffix = ".bak";

// The path of the allowed-domain file: the program's folder and the file name,
// joined by one separator.
std::string allowedDomainsPath(const Quellit& form);

// Removes what saves killed in earlier runs left beside the file, then
// appends the file's fields to lstWhiteList, skipping those already listed.
// A missing file is created empty; any other failure stops the load silently,
// keeping what was loaded, and marks the file as not loaded whole. Raises an
// Error only when a missing file cannot be created.
void LoadAllowedDomains(Quellit& form);

// Replaces the file with lstWhiteList, one entry a line ended by CR LF. The
// first save after a load that stopped early first copies the file whole to
// "Whitelst.txt.bak". Raises an Error on failure, leaving the previous file whole.
void SaveAllowedDomains(Quellit& form);

} // namespace tavro

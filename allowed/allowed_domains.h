#pragma once

#include <optional>
#include <string>

namespace tavro {

class Quellit;
class TextInput;

inline constexpr const char* AllowedDomainsFileName = "Whitelst.txt";

// The path of the allowed-domain file: the program's folder and the file name,
// joined by one separator.
std::string allowedDomainsPath(const Quellit& form);

// Appends the file's fields to lstWhiteList, skipping those already listed.
// A missing file is created empty; any other failure stops the load silently,
// keeping what was loaded. Raises an Error only when a missing file cannot be created.
void LoadAllowedDomains(Quellit& form);

// Replaces the file with lstWhiteList, one entry a line ended by CR LF. Raises
// an Error on failure, leaving the previous file whole.
void SaveAllowedDomains(Quellit& form);

// Reads an allowed-domain file field by field. A field ends at a comma or a
// line end (CR LF, a lone LF or a lone CR), which it consumes; spaces at its
// start are dropped; a field that starts with a double quote runs to the next
// double quote, and what follows that quote up to the comma or line end is
// dropped. Every call raises an Error when the input does.
class FieldReader {
public:
    explicit FieldReader(TextInput& input) : m_input(input) {}

    bool atEnd() { return !more(); }
    std::string next();

private:
    bool more();
    char peek();
    char take();
    // A CR followed by LF is one line end.
    void finishLineEnd(char c);

    TextInput& m_input;
    std::optional<char> m_pending;
};

} // namespace tavro

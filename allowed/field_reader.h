#pragma once

#include <optional>
#include <string>

namespace tavro {

class TextInput;

// Reads an allowed-domain file field by field. A field ends at a comma or a
// line end (CR LF, a lone LF or a lone CR), which it consumes; spaces at its
// start are dropped; a field that starts with a double quote runs to the next
// double quote, and what follows that quote up to the comma or line end is
// dropped. Every call raises an Error when the input does.
class FieldReader {
public:
    explicit FieldReader(TextInput& input) : m_input(input) {}

    bool atEnd() { return !more(); }
    // Consumes at least one byte whenever atEnd() is false.
    std::string next();

private:
    bool more();
    char peek();
    char take();
    // A CR followed by LF is one line end.
    void finishLineEnd(char c);
    // Consumes up to and including the comma or line end that ends the field;
    // the bytes on the way are kept only when the field is given.
    void finishField(std::string* field);

    TextInput& m_input;
    std::optional<char> m_pending;
};

} // namespace tavro

#include "allowed/field_reader.h"

#include "platform/files.h"

#include <utility>

namespace tavro {

bool FieldReader::more() {
    return m_pending.has_value() || !m_input.eof();
}

char FieldReader::peek() {
    if (!m_pending)
        m_pending = m_input.get();
    return *m_pending;
}

char FieldReader::take() {
    if (m_pending)
        return *std::exchange(m_pending, std::nullopt);
    return m_input.get();
}

void FieldReader::finishLineEnd(char c) {
    if (c == '\r' && more() && peek() == '\n')
        take();
}

void FieldReader::finishField(std::string* field) {
    while (more()) {
        const char c = take();
        if (c == ',')
            return;
        if (c == '\n' || c == '\r') {
            finishLineEnd(c);
            return;
        }
        if (field)
            field->push_back(c);
    }
}

std::string FieldReader::next() {
    std::string field;
    while (more() && peek() == ' ')
        take();

    if (more() && peek() == '"') {
        take();
        while (more()) {
            const char c = take();
            if (c == '"')
                break;
            field.push_back(c);
        }
        finishField(nullptr);
        return field;
    }

    finishField(&field);
    return field;
}

} // namespace tavro

#include "allowed/allowed_domains.h"

#include "app/quellit.h"
#include "blocking/list_lookup.h"
#include "platform/error.h"

#include <utility>

namespace tavro {

namespace {
bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}
} // namespace

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
        while (more()) {
            const char c = take();
            if (c == ',')
                break;
            if (isLineEnd(c)) {
                finishLineEnd(c);
                break;
            }
        }
        return field;
    }

    while (more()) {
        const char c = take();
        if (c == ',')
            break;
        if (isLineEnd(c)) {
            finishLineEnd(c);
            break;
        }
        field.push_back(c);
    }
    return field;
}

std::string allowedDomainsPath(const Quellit& form) {
    std::string path = form.sys.toolkit.programFolder();
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path + AllowedDomainsFileName;
}

void LoadAllowedDomains(Quellit& form) {
    const std::string path = allowedDomainsPath(form);
    try {
        const std::unique_ptr<TextInput> input = form.sys.files.openInput(path);
        FieldReader reader(*input);
        while (!reader.atEnd()) {
            std::string field = reader.next();
            // The empty field is always "listed", so blank lines add nothing; a
            // full list overflows the lookup, which ends the load like any failure.
            if (!ListContains(form.lstWhiteList, field))
                form.lstWhiteList.append(std::move(field));
        }
    } catch (const Error& e) {
        // The input is released by now, whatever failed. Only a missing file is
        // acted on: it is created empty, and a failure to do so goes to the caller.
        if (e.number() == errc::FileNotFound)
            form.sys.files.openOutput(path)->close();
    }
}

void SaveAllowedDomains(Quellit& form) {
    const std::unique_ptr<TextOutput> output = form.sys.files.openOutput(allowedDomainsPath(form));
    const std::int16_t n = form.lstWhiteList.count();
    for (std::int16_t i = 0; i < n; ++i)
        output->writeLine(form.lstWhiteList.text(i));
    output->close();
}

} // namespace tavro

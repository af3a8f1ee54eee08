// libFuzzer target for the allowed-domain file's field reader. The first byte
// of the input picks a byte after which every read fails, as a disk error
// would; the rest is the file.
#include "allowed/field_reader.h"
#include "platform/error.h"
#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

class BytesInput final : public tavro::TextInput {
public:
    BytesInput(std::string_view bytes, std::size_t failAfter) : m_bytes(bytes), m_failAfter(failAfter) {}

    bool eof() override { return m_position >= m_bytes.size(); }
    char get() override {
        if (m_position >= m_failAfter)
            throw tavro::Error(tavro::errc::PathFileAccess, "Path/File access error");
        if (eof())
            throw tavro::Error(tavro::errc::InputPastEndOfFile, "Input past end of file");
        return m_bytes[m_position++];
    }
    std::size_t size() const { return m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_failAfter;
    std::size_t m_position = 0;
};

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::vector<std::string> readAll(BytesInput& input) {
    std::vector<std::string> fields;
    tavro::FieldReader reader(input);
    try {
        while (!reader.atEnd()) {
            fields.push_back(reader.next());
            // Every field consumes a byte at least, or a file could hold the load forever.
            check(fields.size() <= input.size());
        }
    } catch (const tavro::Error& e) {
        check(e.number() == tavro::errc::PathFileAccess);
    }
    return fields;
}

bool plain(const std::string& field) {
    return !field.empty() && field.front() != ' ' && field.front() != '"' &&
           field.find_first_of(",\r\n") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t failAfter = data[0] < 0xF0 ? SIZE_MAX : static_cast<std::size_t>(data[0] - 0xF0) * 3;
    const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);

    BytesInput input(file, failAfter);
    const std::vector<std::string> fields = readAll(input);
    std::size_t total = 0;
    for (const std::string& field : fields) {
        total += field.size();
        // Nothing is invented: a field is made of bytes of the file.
        check(total <= file.size());
        check(field.empty() || field.front() != ' ' || file.find('"') != std::string_view::npos);
    }

    // What a save writes reads back the same: the plain fields, one per CR LF line.
    std::string saved;
    std::vector<std::string> written;
    for (const std::string& field : fields)
        if (plain(field)) {
            written.push_back(field);
            saved.append(field).append("\r\n");
        }
    BytesInput again(saved, SIZE_MAX);
    check(readAll(again) == written);
    return 0;
}

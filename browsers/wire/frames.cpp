#include "browsers/wire/frames.h"

#include <cstring>

namespace tavro::wire {

namespace {

constexpr std::size_t HeaderBytes = sizeof(std::uint32_t);

} // namespace

std::string frame(std::string_view json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string framed(HeaderBytes, '\0');
    std::memcpy(framed.data(), &length, HeaderBytes);
    framed.append(json);
    return framed;
}

void FrameReader::append(const char* bytes, std::size_t count) {
    // What was handed out goes only now, so a burst of small messages costs
    // one move instead of one each.
    if (m_start > 0) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    m_buffer.append(bytes, count);
}

std::optional<std::string> FrameReader::next() {
    if (m_fault != Fault::None || m_buffer.size() - m_start < HeaderBytes)
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, m_buffer.data() + m_start, HeaderBytes);
    if (length > m_longest) {
        m_fault = Fault::TooLong;
        return std::nullopt;
    }
    if (m_buffer.size() - m_start - HeaderBytes < length)
        return std::nullopt;
    std::string text = m_buffer.substr(m_start + HeaderBytes, length);
    m_start += HeaderBytes + length;
    return text;
}

} // namespace tavro::wire

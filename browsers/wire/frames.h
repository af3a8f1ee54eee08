#pragma once

#include "browsers/wire/json_message.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The framing of native messaging, which the host also speaks to the program
// over its socket, so that it relays without rewriting: each message is a
// 4-byte length in the machine's byte order, then that many bytes of UTF-8 JSON.
namespace tavro::wire {

// Chromium closes the port on a longer message from the host: nothing longer
// is ever sent towards a browser. What comes from one is held to the bound of
// every peer, MaxMessageBytes.
inline constexpr std::size_t BrowserTakesAtMostBytes = 1024 * 1024;

// The message with its length in front.
std::string frame(std::string_view json);

// Cuts a stream of bytes, as they arrive, into the texts of its messages.
class FrameReader final {
public:
    explicit FrameReader(std::size_t longest = MaxMessageBytes) : m_longest(longest) {}

    enum class Fault {
        None,
        // A length over the longest taken: refused from its first four bytes,
        // before the text is waited for.
        TooLong,
    };

    void append(const char* bytes, std::size_t count);
    // The next whole message, or nothing until more bytes come or after a fault.
    std::optional<std::string> next();

    Fault fault() const { return m_fault; }
    // Part of a message has come and the rest has not: at the stream's end,
    // a message cut short.
    bool midMessage() const { return m_start < m_buffer.size(); }

private:
    std::size_t m_longest;
    std::string m_buffer;
    std::size_t m_start = 0;
    Fault m_fault = Fault::None;
};

} // namespace tavro::wire

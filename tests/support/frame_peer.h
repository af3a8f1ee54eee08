#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::testing {

// One end of a local stream socket that speaks native messaging's framing (a 4-byte
// length in the machine's byte order, then the text), as the browser or the
// program would hold it. It frames by itself, apart from the code under test,
// so that a fault there is not matched by the same fault here.
class FramePeer final {
public:
    // Takes the descriptor over.
    explicit FramePeer(int fd);
    // Connects to the local socket at path; throws when it cannot.
    static FramePeer connectTo(const std::string& path);
    ~FramePeer();
    FramePeer(FramePeer&& other) noexcept;
    FramePeer(const FramePeer&) = delete;
    FramePeer& operator=(const FramePeer&) = delete;
    FramePeer& operator=(FramePeer&&) = delete;

    static std::string header(std::uint32_t length);
    // False when the other end is gone.
    bool write(std::string_view bytes);
    bool writeFrame(std::string_view text) {
        return write(header(static_cast<std::uint32_t>(text.size())) + std::string(text));
    }
    // The next message, or nothing when the other end closed first or none came in time.
    std::optional<std::string> readFrame(int timeoutMs = 5000);
    // True when the other end closes within the time; what it sends before is dropped.
    bool endsWithin(int timeoutMs = 5000);
    // Stops writing, so the other end reads its end.
    void finishWriting();
    int fd() const { return m_fd; }

private:
    // Exactly count bytes, or nothing.
    std::optional<std::string> readExactly(std::size_t count, int timeoutMs);

    int m_fd;
};

} // namespace tavro::testing

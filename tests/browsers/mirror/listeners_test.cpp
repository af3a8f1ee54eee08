// Who listens where a browser's file says it does, as the system's socket
// tables tell.

#include "browsers/mirror/listeners.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tavro::browsers {
namespace {

// address as words in its own byte order, the port in hexadecimal, state 0A
// for a listening socket, then the owner's user id.
std::string socketRow(const std::vector<unsigned char>& address, std::uint16_t port, const char* state,
                      uid_t uid) {
    std::string hex;
    for (std::size_t i = 0; i < address.size(); i += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, &address[i], 4);
        char text[9];
        std::snprintf(text, sizeof text, "%08X", word);
        hex += text;
    }
    char row[256];
    std::snprintf(row, sizeof row,
                  "   0: %s:%04X 00000000:0000 %s 00000000:00000000 00:00000000 00000000 %5u        0 1 1\n",
                  hex.c_str(), port, state, static_cast<unsigned>(uid));
    return row;
}

TEST(PortListener, OnlyTheUsersOwnListenerOnTheLoopbackCounts) {
    const std::string heading =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
    const std::vector<unsigned char> loopback{127, 0, 0, 1};
    const std::vector<unsigned char> any{0, 0, 0, 0};
    const std::vector<unsigned char> other{127, 0, 0, 2};
    const std::vector<unsigned char> any6(16, 0);
    std::vector<unsigned char> mapped(16, 0);
    mapped[10] = mapped[11] = 0xff;
    std::copy(loopback.begin(), loopback.end(), mapped.begin() + 12);
    const uid_t me = 1000;
    const uid_t someone = 1001;
    struct Row {
        const char* name;
        std::string table;
        Listener expected;
    };
    const Row rows[] = {
        {"own on 127.0.0.1", socketRow(loopback, 9222, "0A", me), Listener::Own},
        {"another user's on 127.0.0.1", socketRow(loopback, 9222, "0A", someone), Listener::Foreign},
        {"another user's on every address", socketRow(any, 9222, "0A", someone), Listener::Foreign},
        {"another user's on IPv6's any", socketRow(any6, 9222, "0A", someone), Listener::Foreign},
        {"another user's on the mapped loopback", socketRow(mapped, 9222, "0A", someone), Listener::Foreign},
        {"own beside another user's",
         socketRow(loopback, 9222, "0A", me) + socketRow(any, 9222, "0A", someone), Listener::Foreign},
        {"another address", socketRow(other, 9222, "0A", someone), Listener::None},
        {"another port", socketRow(loopback, 9223, "0A", someone), Listener::None},
        {"a connection, not listening", socketRow(loopback, 9222, "01", someone), Listener::None},
        {"a broken row", "   0: 0100007F:240 garbage\n", Listener::None},
        {"nothing", "", Listener::None},
    };
    for (const Row& row : rows)
        EXPECT_EQ(listenerIn(heading + row.table, 9222, me), row.expected) << row.name;
}

} // namespace
} // namespace tavro::browsers

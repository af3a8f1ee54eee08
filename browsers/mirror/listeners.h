#pragma once

#include <cstdint>
#include <string_view>
#include <sys/types.h>

// Who listens where a browser's file says it does: a program of another user
// could listen on a port a browser of ours left behind.
namespace tavro::browsers {

// Who listens on a TCP port that a connection to 127.0.0.1 would reach.
enum class Listener { None, Own, Foreign };

// The listener of the port in a table of /proc/net/tcp or /proc/net/tcp6:
// Foreign when any listening socket there belongs to a user other than user.
Listener listenerIn(std::string_view table, std::uint16_t port, uid_t user);
// The same from the system's own tables, for the user running the program.
// Foreign when the tables cannot be read, as nothing can be vouched for then.
Listener portListener(std::uint16_t port);

} // namespace tavro::browsers

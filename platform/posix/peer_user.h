#pragma once

namespace tavro {

// True when the process at the other end of this connected local socket runs
// as the same user as we do; false also when the system cannot tell. Anyone
// may connect to, or listen at, a name they can reach; what is said over a
// per-user socket is for the user alone.
bool peerIsThisUser(int socket);

} // namespace tavro

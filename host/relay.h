#pragma once

namespace tavro::host {

// Passes whole messages between the browser (its pipes) and the program (its
// socket), each in native messaging's framing, each checked to be a JSON
// object within the bounds before it goes on, and relayed byte for byte.
// Returns when either side ends: 0 when the browser closed its pipe, or when
// the program ended and the browser was told {"type":"absent"}; 1 after a
// message that broke the bounds, which ends both connections.
int relay(int browserIn, int browserOut, int program);

// Tells the browser that the program does not run.
void tellAbsent(int browserOut);

} // namespace tavro::host

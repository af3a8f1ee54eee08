#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::wire {

using Json = nlohmann::json;

// The largest message taken from any peer, a browser or the extension's host.
// An honest list of pages with addresses near the browsers' 2 MB limit fits
// several times over; a longer one is refused from its length alone, before
// its text is read, and the peer is dropped.
inline constexpr std::size_t MaxMessageBytes = 48U * 1024U * 1024U;

// Deeper nesting than any protocol answer has is refused before it is parsed.
inline constexpr int MaxJsonDepth = 64;

// A message as the protocols send them: a JSON object nested no deeper than
// MaxJsonDepth. Nothing for any other text.
std::optional<Json> parseMessage(std::string_view text);

// The result of an answer, moved out of it, or an Error carrying the browser's
// own message, whether the protocol sends it as an error object or as an
// error code with a message beside it.
Json resultOf(Json answer);

// The text of an object's member, or "" when it is missing, null or not text.
std::string stringField(const Json& object, const char* name);

} // namespace tavro::wire

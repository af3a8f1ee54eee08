// libFuzzer target over everything that reads what a browser sends: the
// message itself, then the message taken as each answer and event the DevTools
// adapter reads (the list of pages, a page's window, its session and frame
// tree, the announcement of a page). None may crash, hang or leak, whatever
// arrives; an error answer may only raise the program's own Error.

#include "platform/cdp/answers.h"
#include "platform/error.h"
#include "platform/websocket/json_message.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using tavro::websocket::Json;

template <typename Read> void readAs(const Json& message, Read&& read) {
    try {
        read(Json(message));
    } catch (const tavro::Error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto message = tavro::websocket::parseMessage(text);
    if (!message)
        return 0;
    readAs(*message, [](Json m) { tavro::cdp::pagesOf(tavro::websocket::resultOf(std::move(m))); });
    readAs(*message, [](Json m) { tavro::cdp::windowOf(std::move(m)); });
    readAs(*message, [](Json m) { tavro::cdp::sessionOf(std::move(m)); });
    readAs(*message, [](Json m) { tavro::cdp::mimeTypeOf(std::move(m)); });
    readAs(*message, [](Json m) { tavro::cdp::announcedPage(m); });
    return 0;
}

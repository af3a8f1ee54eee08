// libFuzzer target over everything that reads what a browser sends: the
// message itself, then the message taken as each answer and event the
// adapters read, and then the input as a run of messages, one a line, that a
// browser sends each protocol as it keeps its mirror of the pages. None may
// crash, hang or leak, whatever arrives; an error answer may only raise the
// program's own Error.

#include "browsers/bidi/answers.h"
#include "browsers/bidi/bidi_protocol.h"
#include "browsers/devtools/answers.h"
#include "browsers/devtools/devtools_protocol.h"
#include "browsers/extension/extension_protocol.h"
#include "browsers/mirror/page_mirror.h"
#include "browsers/wire/json_message.h"
#include "platform/error.h"
#include "tests/support/detached_channel.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using namespace std::chrono_literals;
using tavro::wire::Json;

template <typename Read> void readAs(const Json& message, Read&& read) {
    try {
        read(Json(message));
    } catch (const tavro::Error&) {
    }
}

// The messages of one run, fed to a protocol as they would arrive, and the
// mirror read as a walk and a tick's housekeeping read it.
void feed(tavro::browsers::BrowserProtocol& protocol, std::string_view run) {
    auto c = std::make_unique<tavro::testing::DetachedChannel>();
    tavro::browsers::PageMirror mirror;
    protocol.start(*c, mirror);
    constexpr int MaxMessages = 64;
    for (int i = 0; i < MaxMessages && !run.empty(); ++i) {
        const auto end = run.find('\n');
        c->receive(run.substr(0, end));
        run.remove_prefix(end == std::string_view::npos ? run.size() : end + 1);
    }
    mirror.expireProbes(tavro::browsers::MirrorClock::now() + 1h);
    mirror.snapshot();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto message = tavro::wire::parseMessage(text)) {
        readAs(*message, [](Json m) { tavro::devtools::windowOf(std::move(m)); });
        readAs(*message, [](Json m) { tavro::devtools::sessionOf(std::move(m)); });
        readAs(*message, [](Json m) { tavro::devtools::mimeTypeOf(std::move(m)); });
        readAs(*message, [](Json m) { tavro::devtools::targetEventOf(std::move(m)); });
        readAs(*message, [](Json m) { tavro::bidi::contextsOf(tavro::wire::resultOf(std::move(m))); });
        readAs(*message, [](Json m) { tavro::bidi::contextEventOf(m); });
        readAs(*message, [](Json m) { tavro::bidi::pageAnswerOf(m); });
        readAs(*message, [](Json m) { tavro::bidi::createdContextOf(m); });
    }
    tavro::devtools::DevToolsProtocol chromium;
    feed(chromium, text);
    tavro::bidi::BidiProtocol firefox{30s};
    feed(firefox, text);
    tavro::extension::ExtensionProtocol extension{[](bool) {}};
    feed(extension, text);
    return 0;
}

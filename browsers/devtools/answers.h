#pragma once

#include "browsers/wire/websocket.h"

#include <optional>
#include <string>
#include <vector>

// Reading what the browser sends: every field is checked for its kind, and
// nothing a browser could send raises anything but an Error for an error
// answer.
namespace tavro::devtools {

using wire::Json;

// One page as the browser lists it.
struct TargetInfo {
    std::string id;
    std::string url;
    std::string openerId;
    bool canAccessOpener = false;
};

// A page from a target event's entry; nothing for other kinds of target and
// for pages the user does not see.
std::optional<TargetInfo> pageOf(Json& info);
// The window of Browser.getWindowForTarget's answer.
std::optional<long> windowOf(Json answer);
// The session of Target.attachToTarget's answer; empty when there is none.
std::string sessionOf(Json answer);
// The MIME type of the main frame in Page.getFrameTree's answer.
std::optional<std::string> mimeTypeOf(Json answer);
// What an event of the browser's target discovery says of a page.
struct TargetEvent {
    enum class Kind { Created, Changed, Destroyed };
    Kind kind = Kind::Created;
    // Only the id for a page destroyed.
    TargetInfo page;
};

// The page an event announces as new, as changed or as gone
// (Target.targetCreated, Target.targetInfoChanged, Target.targetDestroyed);
// nothing for any other event or kind of target.
std::optional<TargetEvent> targetEventOf(Json event);

// A target the browser attached the program to by itself (browser-wide
// Target.setAutoAttach): the session it opened, and whether the target waits
// for the program before it runs, its first request included.
struct Attached {
    std::string session;
    std::string targetId;
    // Set for a page the user can see.
    std::optional<TargetInfo> page;
    bool waiting = false;
};
std::optional<Attached> attachedOf(Json& params);
// A request the browser holds for the program (Fetch.requestPaused).
struct PausedRequest {
    std::string requestId;
    std::string url;
    std::string frameId;
};
std::optional<PausedRequest> pausedRequestOf(Json& params);

} // namespace tavro::devtools

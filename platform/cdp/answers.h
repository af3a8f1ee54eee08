#pragma once

#include "platform/websocket/json_connection.h"

#include <optional>
#include <string>
#include <vector>

// Reading what the browser sends: every field is checked for its kind, and
// nothing a browser could send raises anything but an Error for an error
// answer.
namespace tavro::cdp {

using websocket::Json;

// One page as the browser lists it.
struct TargetInfo {
    std::string id;
    std::string url;
    std::string openerId;
    bool canAccessOpener = false;
};

// The pages the user sees, in the browser's order, from Target.getTargets'
// result; the addresses are moved out of it. Raises an Error when the result
// holds no list.
std::vector<TargetInfo> pagesOf(Json result);
// A page from one entry of that list or of a target event; nothing for other
// kinds of target and for pages the user does not see.
std::optional<TargetInfo> pageOf(Json& info);
// The window of Browser.getWindowForTarget's answer.
std::optional<long> windowOf(Json answer);
// The session of Target.attachToTarget's answer; empty when there is none.
std::string sessionOf(Json answer);
// The MIME type of the main frame in Page.getFrameTree's answer.
std::optional<std::string> mimeTypeOf(Json answer);
// The page opened by script that an event announces as new or as changed
// (Target.targetCreated, Target.targetInfoChanged); nothing for any other
// event or page.
std::optional<TargetInfo> announcedPage(const Json& event);

} // namespace tavro::cdp

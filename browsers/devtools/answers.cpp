#include "browsers/devtools/answers.h"

#include "platform/error.h"

namespace tavro::devtools {

namespace {

std::string takeString(Json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? std::move(it->get_ref<std::string&>()) : std::string();
}

// The result of an answer that is not an error, else nothing.
std::optional<Json> resultWithoutError(Json answer) {
    if (!answer.is_object() || answer.contains("error"))
        return std::nullopt;
    Json result = wire::resultOf(std::move(answer));
    if (!result.is_object())
        return std::nullopt;
    return result;
}

} // namespace

std::optional<TargetInfo> pageOf(Json& info) {
    if (!info.is_object() || takeString(info, "type") != "page")
        return std::nullopt;
    // Pages being rendered ahead of a navigation are not shown to the user.
    if (!takeString(info, "subtype").empty())
        return std::nullopt;
    TargetInfo target;
    target.id = takeString(info, "targetId");
    if (target.id.empty())
        return std::nullopt;
    target.url = takeString(info, "url");
    target.openerId = takeString(info, "openerId");
    const auto access = info.find("canAccessOpener");
    target.canAccessOpener = access != info.end() && access->is_boolean() && access->get<bool>();
    return target;
}

std::optional<Attached> attachedOf(Json& params) {
    if (!params.is_object())
        return std::nullopt;
    Attached attached;
    attached.session = takeString(params, "sessionId");
    const auto info = params.find("targetInfo");
    if (attached.session.empty() || info == params.end() || !info->is_object())
        return std::nullopt;
    attached.targetId = takeString(*info, "targetId");
    if (attached.targetId.empty())
        return std::nullopt;
    (*info)["targetId"] = attached.targetId;
    attached.page = pageOf(*info);
    const auto waiting = params.find("waitingForDebugger");
    attached.waiting = waiting != params.end() && waiting->is_boolean() && waiting->get<bool>();
    return attached;
}

std::optional<PausedRequest> pausedRequestOf(Json& params) {
    if (!params.is_object())
        return std::nullopt;
    PausedRequest paused;
    paused.requestId = takeString(params, "requestId");
    paused.frameId = takeString(params, "frameId");
    const auto request = params.find("request");
    if (request != params.end() && request->is_object())
        paused.url = takeString(*request, "url");
    if (paused.requestId.empty())
        return std::nullopt;
    return paused;
}

std::optional<long> windowOf(Json answer) {
    const auto result = resultWithoutError(std::move(answer));
    if (!result)
        return std::nullopt;
    const auto window = result->find("windowId");
    if (window == result->end() || !window->is_number_integer())
        return std::nullopt;
    return window->get<long>();
}

std::string sessionOf(Json answer) {
    auto result = resultWithoutError(std::move(answer));
    return result ? takeString(*result, "sessionId") : std::string();
}

std::optional<std::string> mimeTypeOf(Json answer) {
    const auto result = resultWithoutError(std::move(answer));
    if (!result)
        return std::nullopt;
    const auto tree = result->find("frameTree");
    if (tree == result->end() || !tree->is_object())
        return std::nullopt;
    const auto frame = tree->find("frame");
    if (frame == tree->end() || !frame->is_object())
        return std::nullopt;
    const auto mime = frame->find("mimeType");
    if (mime == frame->end() || !mime->is_string())
        return std::nullopt;
    return mime->get<std::string>();
}

std::optional<TargetEvent> targetEventOf(Json event) {
    if (!event.is_object())
        return std::nullopt;
    const std::string method = takeString(event, "method");
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return std::nullopt;
    if (method == "Target.targetDestroyed") {
        TargetEvent gone{TargetEvent::Kind::Destroyed, {}};
        gone.page.id = takeString(*params, "targetId");
        if (gone.page.id.empty())
            return std::nullopt;
        return gone;
    }
    TargetEvent::Kind kind = TargetEvent::Kind::Created;
    if (method == "Target.targetInfoChanged")
        kind = TargetEvent::Kind::Changed;
    else if (method != "Target.targetCreated")
        return std::nullopt;
    const auto info = params->find("targetInfo");
    if (info == params->end())
        return std::nullopt;
    auto page = pageOf(*info);
    if (!page)
        return std::nullopt;
    return TargetEvent{kind, std::move(*page)};
}

} // namespace tavro::devtools

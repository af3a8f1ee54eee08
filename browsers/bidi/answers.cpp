#include "browsers/bidi/answers.h"

#include "platform/error.h"

namespace tavro::bidi {

using wire::stringField;

namespace {

ContextInfo contextOf(const Json& info) {
    return {stringField(info, "context"), stringField(info, "url"), stringField(info, "parent"),
            stringField(info, "originalOpener"), stringField(info, "clientWindow")};
}

} // namespace

std::vector<ContextInfo> contextsOf(const Json& result) {
    const auto list = result.is_object() ? result.find("contexts") : result.end();
    if (!result.is_object() || list == result.end() || !list->is_array())
        throw Error(errc::AutomationError, "Firefox sent no list of pages");
    std::vector<ContextInfo> contexts;
    contexts.reserve(list->size());
    for (const Json& info : *list) {
        if (!info.is_object())
            continue;
        ContextInfo context = contextOf(info);
        if (!context.id.empty() && context.parent.empty())
            contexts.push_back(std::move(context));
    }
    return contexts;
}

std::optional<ContextEvent> contextEventOf(const Json& event) {
    if (!event.is_object())
        return std::nullopt;
    const auto params = event.find("params");
    if (params == event.end() || !params->is_object())
        return std::nullopt;
    const std::string method = stringField(event, "method");
    ContextEvent told;
    if (method == "browsingContext.contextCreated")
        told.kind = ContextEvent::Kind::Created;
    else if (method == "browsingContext.navigationStarted")
        told.kind = ContextEvent::Kind::Navigating;
    else if (method == "browsingContext.domContentLoaded" || method == "browsingContext.load" ||
             method == "browsingContext.fragmentNavigated" || method == "browsingContext.historyUpdated")
        told.kind = ContextEvent::Kind::Committed;
    else if (method == "browsingContext.contextDestroyed")
        told.kind = ContextEvent::Kind::Destroyed;
    else
        return std::nullopt;
    told.context = contextOf(*params);
    if (told.context.id.empty())
        return std::nullopt;
    return told;
}

std::optional<PageAnswer> pageAnswerOf(const Json& answer) {
    if (!answer.is_object() || answer.contains("error"))
        return std::nullopt;
    const auto result = answer.find("result");
    if (result == answer.end() || !result->is_object() || stringField(*result, "type") != "success")
        return std::nullopt;
    const auto value = result->find("result");
    if (value == result->end() || !value->is_object() || stringField(*value, "type") != "string")
        return std::nullopt;
    const std::string text = stringField(*value, "value");
    const auto space = text.find(' ');
    if (space == std::string::npos)
        return std::nullopt;
    return PageAnswer{text.compare(0, space, "true") == 0, text.substr(space + 1)};
}

std::string createdContextOf(const Json& answer) {
    if (!answer.is_object() || answer.contains("error"))
        return {};
    const auto result = answer.find("result");
    return result != answer.end() && result->is_object() ? stringField(*result, "context") : std::string();
}

} // namespace tavro::bidi

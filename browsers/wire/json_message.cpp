#include "browsers/wire/json_message.h"

#include "platform/error.h"

namespace tavro::wire {

namespace {

// Counts brackets outside strings; the parser itself would follow any depth.
bool nestedWithin(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char ch : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (ch == '\\')
                escaped = true;
            else if (ch == '"')
                inString = false;
        } else if (ch == '"') {
            inString = true;
        } else if (ch == '{' || ch == '[') {
            if (++depth > limit)
                return false;
        } else if (ch == '}' || ch == ']') {
            --depth;
        }
    }
    return true;
}

} // namespace

std::optional<Json> parseMessage(std::string_view text) {
    if (!nestedWithin(text, MaxJsonDepth))
        return std::nullopt;
    Json message = Json::parse(text.begin(), text.end(), nullptr, false);
    if (message.is_discarded() || !message.is_object())
        return std::nullopt;
    return message;
}

Json resultOf(Json answer) {
    const auto error = answer.find("error");
    if (error != answer.end()) {
        std::string text = "The browser refused the request";
        const Json& holder = error->is_object() ? *error : answer;
        if (holder.contains("message") && holder["message"].is_string())
            text = holder["message"].get<std::string>();
        throw Error(errc::AutomationError, text);
    }
    const auto result = answer.find("result");
    return result != answer.end() ? std::move(*result) : Json::object();
}

std::string stringField(const Json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace tavro::wire

#pragma once

#include "browsers/wire/json_message.h"

#include <optional>
#include <string>
#include <vector>

// Reading what Firefox sends over WebDriver BiDi: every field is checked for
// its kind, and nothing Firefox could send raises anything but an Error for
// an error answer.
namespace tavro::bidi {

using wire::Json;

// One browsing context as Firefox describes it.
struct ContextInfo {
    std::string id;
    std::string url;
    // Empty for a top-level page; frames are never pages of their own.
    std::string parent;
    // The page whose script opened this one, even when it cannot reach it.
    std::string openerId;
    // Empty when Firefox did not name it.
    std::string window;
};

// The top-level pages of browsingContext.getTree's result, in Firefox's
// order; raises an Error when the result holds no list.
std::vector<ContextInfo> contextsOf(const Json& result);

// What a browsingContext event says of a context.
struct ContextEvent {
    enum class Kind {
        Created,    // a new context (its info)
        Navigating, // a navigation to the address has started
        Committed,  // the context shows a document at the address
        Destroyed,
    };
    Kind kind = Kind::Created;
    ContextInfo context;
};

// The event's news of a context; nothing for any other event.
std::optional<ContextEvent> contextEventOf(const Json& event);

// What a page answered about itself: whether it can reach its opener and
// the MIME type of its document.
struct PageAnswer {
    bool opener = false;
    std::string contentType;
};

// The script that asks a page for a PageAnswer.
inline constexpr const char* PageQuestion = "(window.opener !== null) + ' ' + document.contentType";

// The page's answer in script.evaluate's answer; nothing for an error answer
// (a page between two documents) or any other shape.
std::optional<PageAnswer> pageAnswerOf(const Json& answer);

// The context browsingContext.create's answer names; empty when none.
std::string createdContextOf(const Json& answer);

} // namespace tavro::bidi

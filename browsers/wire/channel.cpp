#include "browsers/wire/channel.h"

namespace tavro::wire {

long Channel::send(const std::string& method, const Json& params, const std::string& session,
                   AnswerHandler onAnswer) {
    const long id = m_nextId++;
    m_handlers.emplace(id, std::move(onAnswer));
    if (isOpen())
        write(compose(id, method, params, session).dump(-1, ' ', false, Json::error_handler_t::replace));
    return id;
}

void Channel::post(const std::string& method, const Json& params, const std::string& session) {
    // The protocols want an id on every command; the answer to this one
    // finds no handler and is dropped.
    const long id = m_nextId++;
    if (isOpen())
        write(compose(id, method, params, session).dump(-1, ' ', false, Json::error_handler_t::replace));
}

void Channel::forget(long id) {
    m_handlers.erase(id);
}

void Channel::dispatch(Json message) {
    m_lastHeard = Clock::now();
    const auto id = message.find("id");
    if (id != message.end() && id->is_number_integer()) {
        const auto handler = m_handlers.find(id->get<long>());
        if (handler == m_handlers.end())
            return;
        AnswerHandler onAnswer = std::move(handler->second);
        m_handlers.erase(handler);
        onAnswer(std::move(message));
        return;
    }
    if (id == message.end() && onEvent)
        onEvent(message);
}

} // namespace tavro::wire

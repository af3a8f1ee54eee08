#pragma once

#include "browsers/wire/json_message.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace tavro::wire {

using Clock = std::chrono::steady_clock;

// One peer's JSON messages, whatever carries them: questions matched to their
// answers by id, the peer's other messages handed on as events. A channel is
// owned by the one thread that drives its transport; every member is that
// thread's alone but execute(), which any thread may call.
class Channel {
public:
    using AnswerHandler = std::function<void(Json answer)>;

    virtual ~Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False once the peer has gone or was dropped.
    virtual bool isOpen() const = 0;
    // True once the peer sent what no browser sends and was dropped for it.
    virtual bool refused() const = 0;
    // Drops the peer; what was queued may not reach it.
    virtual void hangUp() = 0;
    // From any thread: runs work on the owner's thread at its next turn;
    // false when the channel has gone, and the work then never runs.
    virtual bool execute(std::function<void()> work) = 0;

    // Queues a question; its answer, or an error answer, goes to onAnswer as
    // it arrives. Returns the question's id. A session names one page's
    // session where the protocol has them.
    long send(const std::string& method, const Json& params, const std::string& session,
              AnswerHandler onAnswer);
    // Queues a message whose answer nobody waits for.
    void post(const std::string& method, const Json& params = Json::object(),
              const std::string& session = {});
    // Stops waiting for the answer to id: it is dropped when it comes.
    void forget(long id);
    // When the peer last sent a message.
    Clock::time_point lastHeard() const { return m_lastHeard; }

    // Every message of the peer that answers no question.
    std::function<void(const Json&)> onEvent;

protected:
    Channel() = default;
    // The message as this channel's peer reads it.
    virtual Json compose(long id, const std::string& method, const Json& params,
                         const std::string& session) const = 0;
    // Queues the text for the peer.
    virtual void write(std::string text) = 0;
    // A message from the peer: the answer to a question, a late answer
    // nobody waits for any more (dropped), or an event.
    void dispatch(Json message);

private:
    long m_nextId = 1;
    std::map<long, AnswerHandler> m_handlers;
    Clock::time_point m_lastHeard = Clock::now();
};

} // namespace tavro::wire

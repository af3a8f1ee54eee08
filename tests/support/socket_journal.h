#pragma once

#include "browsers/wire/extension_socket.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tavro::testing {

// What an ExtensionSocket told its owner, from its own thread, for a test to
// wait on.
class SocketJournal final {
public:
    struct Message {
        wire::ConnectionId connection;
        wire::Json json;
    };
    struct Entries {
        std::vector<wire::ConnectionId> connected;
        std::vector<Message> messages;
        std::vector<wire::ConnectionId> closed;
    };

    wire::ExtensionSocketEvents events() {
        return {[this](wire::ConnectionId id) { add([&](Entries& e) { e.connected.push_back(id); }); },
                [this](wire::ConnectionId id, wire::Json json) {
                    add([&](Entries& e) { e.messages.push_back({id, std::move(json)}); });
                },
                [this](wire::ConnectionId id) { add([&](Entries& e) { e.closed.push_back(id); }); },
                {}};
    }

    // Waits until the condition holds over the entries; false when it never did in time.
    template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 5000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return condition(std::as_const(m_entries)); });
    }

    Entries now() {
        const std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    template <typename Change> void add(Change change) {
        {
            const std::lock_guard lock(m_mutex);
            change(m_entries);
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Entries m_entries;
};

} // namespace tavro::testing

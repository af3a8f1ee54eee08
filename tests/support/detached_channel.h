#pragma once

#include "browsers/wire/channel.h"

#include <string>
#include <string_view>
#include <vector>

namespace tavro::testing {

// A channel to nothing: what is sent is only kept, and receive() plays the
// peer, so that a protocol can be driven without a browser.
class DetachedChannel final : public wire::Channel {
public:
    bool isOpen() const override { return true; }
    bool refused() const override { return false; }
    void hangUp() override {}
    bool execute(std::function<void()> work) override {
        work();
        return true;
    }
    // A message as if the peer had sent it; text no peer may send is dropped.
    void receive(std::string_view text) {
        if (auto message = wire::parseMessage(text))
            dispatch(std::move(*message));
    }
    // What the protocol sent, in order.
    std::vector<std::string> sent;

protected:
    wire::Json compose(long id, const std::string& method, const wire::Json& params,
                       const std::string& session) const override {
        return {{"id", id}, {"method", method}, {"params", params}, {"sessionId", session}};
    }
    void write(std::string text) override { sent.push_back(std::move(text)); }
};

} // namespace tavro::testing

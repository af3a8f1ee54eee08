#pragma once

#include "browsers/mirror/page_mirror.h"
#include "browsers/mirror/timeouts.h"
#include "browsers/wire/channel.h"

#include <chrono>
#include <optional>
#include <string>

namespace tavro::browsers {

using wire::Channel;
using wire::Clock;
using wire::Json;

// One browser automation protocol: what a channel says, and how its news
// becomes the mirror. Called on the thread that owns the channel only.
class BrowserProtocol {
public:
    enum class Stage {
        Starting, // the channel is being set up (a session asked for)
        Serving,  // the mirror is kept from the browser's news
        Refused,  // the peer would not serve: it rests
    };

    virtual ~BrowserProtocol() = default;
    // A new channel: asks for what it needs; it starts the mirror over once
    // the browser serves and feeds it from then on.
    virtual void start(Channel& c, PageMirror& mirror) = 0;
    virtual Stage stage() const = 0;
    // How long the channel may take to serve before it is given up.
    virtual std::chrono::milliseconds startBound() const { return std::chrono::seconds(5); }
    // Asks something cheap, so that a browser that has stopped is noticed;
    // false where the peer knows no such question, and an open channel is
    // all there is to know.
    virtual bool keepAlive(Channel& c) = 0;
    virtual void close(Channel& c, const std::string& page) = 0;
    // Opens a page in a new window of the browser.
    virtual void open(Channel& c, const std::string& url) = 0;
    // Lets a page the browser holds before its first request go on; the
    // second lets every such page go.
    virtual void release(Channel& c, const std::string& page) {
        static_cast<void>(c);
        static_cast<void>(page);
    }
    virtual void releaseAll(Channel& c) { static_cast<void>(c); }
    // The protocol's own timed work (a question asked again); returns when
    // it next has some.
    virtual std::optional<Clock::time_point> turn(Channel& c, Clock::time_point now) {
        static_cast<void>(c);
        static_cast<void>(now);
        return std::nullopt;
    }
    // Ends what the channel holds before it is let go; true once done.
    // Called again, as the channel runs, until it is or a grace is over.
    virtual bool finish(Channel& c) {
        static_cast<void>(c);
        return true;
    }
};

// One channel's life as a browser's, on the thread that owns the channel: the
// protocol feeds the mirror from the channel's news; a browser quiet for a
// while is asked something cheap and let go when it leaves that unanswered;
// a peer that floods the mirror, will not serve or takes too long to is let
// go too. The owner drives the channel between turns, until due().
class Session final {
public:
    // Starts the protocol on the channel.
    Session(Channel& c, BrowserProtocol& protocol, PageMirror& mirror, Timeouts timeouts);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Does what is due; false once the peer is to be let go and its place rest.
    bool turn(Clock::time_point now);
    // When the next turn is due, at the latest.
    Clock::time_point due() const { return m_due; }
    // True once the browser has served.
    bool served() const { return m_served; }

private:
    Channel& m_channel;
    BrowserProtocol& m_protocol;
    PageMirror& m_mirror;
    Timeouts m_timeouts;
    Clock::time_point m_started;
    Clock::time_point m_due;
    std::optional<Clock::time_point> m_askedSince;
    bool m_served = false;
};

} // namespace tavro::browsers

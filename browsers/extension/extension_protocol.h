#pragma once

#include "browsers/mirror/session.h"
#include "browsers/wire/extension_socket.h"

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tavro::extension {

using browsers::BrowserProtocol;
using browsers::PageMirror;
using wire::Channel;
using wire::Clock;
using wire::ConnectionId;
using wire::ExtensionSocket;
using wire::Json;

// One connection of the extension's host, as a channel: the extension's
// messages name their kind in "type", and a question carries an "id" that
// its answer repeats. Owned by the socket's thread, as every connection is.
class ExtensionChannel final : public Channel {
public:
    ExtensionChannel(ExtensionSocket& socket, ConnectionId connection)
        : m_socket(socket), m_connection(connection) {}

    bool isOpen() const override { return m_open; }
    // The socket drops what no extension sends before it is delivered.
    bool refused() const override { return false; }
    void hangUp() override { m_socket.drop(m_connection); }
    bool execute(std::function<void()> work) override;

    // A message from the extension, on the socket's thread.
    void deliver(Json message) { dispatch(std::move(message)); }
    // From any thread: the connection has ended; nothing more is sent.
    void ended() { m_open = false; }

protected:
    Json compose(long id, const std::string& method, const Json& params,
                 const std::string& session) const override;
    void write(std::string text) override;

private:
    ExtensionSocket& m_socket;
    ConnectionId m_connection;
    std::atomic<bool> m_open{true};
};

// The extension's messages, as they are described in
// docs/extension-protocol.md, into the mirror of one browser profile. The
// extension tells of every tab as it appears, changes its address, moves or
// goes; a tab another page opened is asked about itself, through the page,
// whether it can still reach its opener and what it shows, once for each
// address, and asked again shortly while it cannot answer yet.
class ExtensionProtocol final : public BrowserProtocol {
public:
    // How long a page is given to say whether it can reach its opener and
    // what it shows: the question goes through the host and the extension,
    // and a new pop-up has no document to ask at first.
    static constexpr std::chrono::milliseconds AnswerTime{1000};

    // ctrl is told whether Ctrl is held in the focused page, as the
    // extension heard it.
    explicit ExtensionProtocol(std::function<void(bool)> ctrl) : m_ctrl(std::move(ctrl)) {}

    void start(Channel& c, PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    bool keepAlive(Channel& c) override;
    void close(Channel& c, const std::string& page) override;
    void open(Channel& c, const std::string& url) override;
    std::optional<Clock::time_point> turn(Channel& c, Clock::time_point now) override;
    void release(Channel& c, const std::string& page) override;
    void releaseAll(Channel& c) override;
    bool finish(Channel& c) override;

    // Puts one message into the mirror; the questions it raises go out on c.
    void hear(Channel& c, const Json& message);
    // "chromium" or "firefox", as the extension's hello named its browser;
    // empty before it, or when it named neither.
    const std::string& family() const { return m_family; }

private:
    // A page that could not be asked yet, asked again when due, until its
    // time to answer is over.
    struct Retry {
        std::string tab;
        std::string url;
        Clock::time_point until;
        Clock::time_point due;
    };

    // A new tab's first request, which the extension holds for the scan's verdict.
    struct Hold {
        long number = 0;
        Clock::time_point since;
    };

    static Clock::time_point answerDue(bool unnamed);
    void held(Channel& c, const Json& message);
    void forgetUnsourced(const std::string& tab);
    void judging(Channel& c);

    void appeared(Channel& c, const Json& page);
    void probe(Channel& c, const std::string& tab, const std::string& url, Clock::time_point until);
    void answered(const std::string& tab, const std::string& url, Clock::time_point until,
                  const Json& answer);

    std::function<void(bool)> m_ctrl;
    Stage m_stage = Stage::Starting;
    PageMirror* m_mirror = nullptr;
    // The version of the messages the extension speaks, from its hello.
    int m_version = 0;
    std::string m_family;
    // The tabs another page opened, with that page: only they are asked
    // about themselves.
    std::map<std::string, std::string> m_openers;
    std::vector<Retry> m_retries;
    std::map<std::string, Hold> m_held;
    // What the extension was last told of whether pages are judged.
    std::optional<bool> m_judgingTold;
};

} // namespace tavro::extension

#pragma once

#include "browsers/bidi/answers.h"
#include "browsers/bidi/discovery.h"
#include "browsers/mirror/session.h"

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tavro::bidi {

using wire::Channel;

// WebDriver BiDi as Firefox speaks it. Firefox serves one session at a time:
// the session is asked for and waited for as long as the socket lives (a
// Firefox that is starting, or whose page loops, takes seconds), and once
// asked for it is always ended, even when its answer comes after the program
// stopped waiting, or Firefox would refuse every other client until it is
// restarted. Firefox's whole list of pages is read when the session starts
// and after a gap in its news; its browsingContext events keep the mirror
// from then on, and each page opened by script is asked about its document
// as it gets each address.
class BidiProtocol final : public browsers::BrowserProtocol {
public:
    explicit BidiProtocol(std::chrono::milliseconds sessionBound) : m_sessionBound(sessionBound) {}

    void start(Channel& c, browsers::PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    std::chrono::milliseconds startBound() const override { return m_sessionBound; }
    bool keepAlive(Channel& c) override;
    void close(Channel& c, const std::string& page) override;
    void open(Channel& c, const std::string& url) override;
    bool finish(Channel& c) override;

    // Puts one event into the mirror; the questions it raises go out on c.
    void hear(Channel& c, const Json& event);

private:
    // Firefox's one session, as far as this client goes.
    enum class Grant { None, Asked, Held, Ending };

    void sessionAnswered(Channel& c, const Json& answer);
    void readTree(Channel& c);
    void appeared(Channel& c, const ContextInfo& context);
    void askWindow(Channel& c, const std::string& id);
    bool openedByScript(const std::string& id) const;
    void probe(Channel& c, const std::string& id, const std::string& url);

    std::chrono::milliseconds m_sessionBound;
    Stage m_stage = Stage::Starting;
    Grant m_session = Grant::None;
    bool m_treeAsked = false;
    browsers::PageMirror* m_mirror = nullptr;
    std::set<std::string> m_frames;
    std::map<std::string, std::string> m_openers;
    std::map<std::string, long> m_probes;
};

} // namespace tavro::bidi

#pragma once

#include "platform/bidi/answers.h"
#include "platform/bidi/discovery.h"
#include "platform/browsers/browser_link.h"

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tavro::bidi {

using websocket::Connection;

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
    BidiProtocol(FirefoxPlaces places, std::chrono::milliseconds sessionBound)
        : m_places(std::move(places)), m_sessionBound(sessionBound) {}

    std::vector<browsers::Place> places() const override { return placesOf(m_places); }
    void start(Connection& c, browsers::PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    std::chrono::milliseconds startBound() const override { return m_sessionBound; }
    void keepAlive(Connection& c) override;
    void close(Connection& c, const std::string& page) override;
    void open(Connection& c, const std::string& url) override;
    bool finish(Connection& c) override;

    // Puts one event into the mirror; the questions it raises go out on c.
    void hear(Connection& c, const Json& event);

private:
    enum class Session { None, Asked, Held, Ending };

    void sessionAnswered(Connection& c, const Json& answer);
    void readTree(Connection& c);
    void appeared(Connection& c, const ContextInfo& context);
    void askWindow(Connection& c, const std::string& id);
    void probe(Connection& c, const std::string& id, const std::string& url);

    FirefoxPlaces m_places;
    std::chrono::milliseconds m_sessionBound;
    Stage m_stage = Stage::Starting;
    Session m_session = Session::None;
    bool m_treeAsked = false;
    browsers::PageMirror* m_mirror = nullptr;
    std::set<std::string> m_frames;
    std::map<std::string, std::string> m_openers;
    std::map<std::string, long> m_probes;
};

} // namespace tavro::bidi

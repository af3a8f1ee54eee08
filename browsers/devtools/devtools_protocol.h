#pragma once

#include "browsers/devtools/answers.h"
#include "browsers/devtools/discovery.h"
#include "browsers/mirror/session.h"

#include <map>
#include <string>
#include <vector>

namespace tavro::devtools {

// The DevTools Protocol of Chromium-family browsers: the browser's target
// discovery tells of every page as it appears, changes its address, or goes;
// each page's window is asked as it appears, and the kind of document of a
// page opened by script that can reach its opener as it gets each address.
//
// The browser also attaches the program to every new target and holds it
// there before it runs. A page opened by script that can reach its opener is
// then let run with its first document request held instead, and that
// request's address goes into the mirror for the scan's verdict: a page the
// scan closes never sends it. The browser lets such a request go by itself
// when the connection ends; any other hold is let go at once.
class DevToolsProtocol final : public browsers::BrowserProtocol {
public:
    explicit DevToolsProtocol(std::chrono::milliseconds holdFor = browsers::HoldFor) : m_holdFor(holdFor) {}

    void start(Channel& c, browsers::PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    bool keepAlive(Channel& c) override;
    void close(Channel& c, const std::string& page) override;
    void open(Channel& c, const std::string& url) override;
    void release(Channel& c, const std::string& page) override;
    void releaseAll(Channel& c) override;
    std::optional<browsers::Clock::time_point> turn(Channel& c, browsers::Clock::time_point now) override;
    bool finish(Channel& c) override;

    // Puts one event into the mirror; the questions it raises go out on c.
    void hear(Channel& c, Json event);

private:
    // A question about a page's document that is out.
    struct Probe {
        std::string url;
        long attachId = 0;
        long frameTreeId = 0;
        std::string session;
        // Attached for the question alone, and detached once it is answered.
        bool own = false;
    };
    // A page's first document request, held for the scan's verdict.
    struct Hold {
        std::string session;
        std::string requestId; // empty until the request is made
        browsers::Clock::time_point since;
    };

    void appeared(Channel& c, const TargetInfo& page);
    void askWindow(Channel& c, const std::string& id);
    static bool probed(const TargetInfo& page);
    void probe(Channel& c, const TargetInfo& page);
    void askFrameTree(Channel& c, const std::string& id);
    void forgetProbe(Channel& c, const std::string& id);
    void attached(Channel& c, Json& params);
    void detached(Json& params);
    void paused(Channel& c, const std::string& session, Json& params);
    void letGo(Channel& c, const std::string& id, const Hold& hold);

    const std::chrono::milliseconds m_holdFor;
    Stage m_stage = Stage::Starting;
    browsers::PageMirror* m_mirror = nullptr;
    std::map<std::string, Probe> m_probes;
    // The sessions the browser attached the program to: target by session,
    // session by target.
    std::map<std::string, std::string> m_targetOf;
    std::map<std::string, std::string> m_sessionOf;
    std::map<std::string, Hold> m_held;
};

} // namespace tavro::devtools

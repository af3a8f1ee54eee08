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
class DevToolsProtocol final : public browsers::BrowserProtocol {
public:
    void start(Channel& c, browsers::PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    bool keepAlive(Channel& c) override;
    void close(Channel& c, const std::string& page) override;
    void open(Channel& c, const std::string& url) override;

    // Puts one event into the mirror; the questions it raises go out on c.
    void hear(Channel& c, Json event);

private:
    // A question about a page's document that is out.
    struct Probe {
        std::string url;
        long attachId = 0;
        long frameTreeId = 0;
        std::string session;
    };

    void appeared(Channel& c, const TargetInfo& page);
    void askWindow(Channel& c, const std::string& id);
    static bool probed(const TargetInfo& page);
    void probe(Channel& c, const TargetInfo& page);
    void askFrameTree(Channel& c, const std::string& id);
    void forgetProbe(Channel& c, const std::string& id);

    Stage m_stage = Stage::Starting;
    browsers::PageMirror* m_mirror = nullptr;
    std::map<std::string, Probe> m_probes;
};

} // namespace tavro::devtools

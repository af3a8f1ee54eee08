#pragma once

#include "platform/browsers/browser_link.h"
#include "platform/cdp/answers.h"
#include "platform/cdp/discovery.h"

#include <map>
#include <string>
#include <vector>

namespace tavro::cdp {

// The DevTools Protocol of Chromium-family browsers: the browser's target
// discovery tells of every page as it appears, changes its address, or goes;
// each page's window is asked as it appears, and the kind of document of a
// page opened by script that can reach its opener as it gets each address.
class DevToolsProtocol final : public browsers::BrowserProtocol {
public:
    explicit DevToolsProtocol(BrowserPlaces places) : m_places(std::move(places)) {}

    std::vector<browsers::Place> places() const override { return placesOf(m_places); }
    void start(Connection& c, browsers::PageMirror& mirror) override;
    Stage stage() const override { return m_stage; }
    void keepAlive(Connection& c) override;
    void close(Connection& c, const std::string& page) override;
    void open(Connection& c, const std::string& url) override;

    // Puts one event into the mirror; the questions it raises go out on c.
    void hear(Connection& c, Json event);

private:
    // A question about a page's document that is out.
    struct Probe {
        std::string url;
        long attachId = 0;
        long frameTreeId = 0;
        std::string session;
    };

    void appeared(Connection& c, const TargetInfo& page);
    void askWindow(Connection& c, const std::string& id);
    void probe(Connection& c, const TargetInfo& page);
    void askFrameTree(Connection& c, const std::string& id);
    void forgetProbe(Connection& c, const std::string& id);

    BrowserPlaces m_places;
    Stage m_stage = Stage::Starting;
    browsers::PageMirror* m_mirror = nullptr;
    std::map<std::string, Probe> m_probes;
};

} // namespace tavro::cdp

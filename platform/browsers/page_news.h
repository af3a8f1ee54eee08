#pragma once

#include "platform/browser.h"
#include "platform/websocket/json_connection.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace tavro::browsers {

// News of pages opened by script, heard on a browser's connection between
// ticks: such a page getting an address with a host, or changing it. A page
// without one yet has nothing to scan, and its address arriving is news of
// its own. Each adapter hears its own protocol's events and passes on what
// they say of these pages.
class PageNews : public BrowserNews {
public:
    // openConnection gives the adapter's open connection, or nullptr.
    explicit PageNews(std::function<websocket::Connection*()> openConnection);

    void setListener(std::function<void()> listener) override { m_listener = std::move(listener); }
    int watchHandle() override;
    void readArrived() override;
    bool takeNews() override;

    // Tells no more news, as a browser that sends none.
    void mute() { m_muted = true; }
    bool muted() const { return m_muted; }

protected:
    // A page opened by script is at this address, now or soon.
    void heardAddress(const std::string& page, const std::string& url);
    void forgetPage(const std::string& page) { m_addresses.erase(page); }
    // A new connection: a new handle to watch and no page heard of yet.
    void startOver();
    // The watcher lets a closed socket go before its number can be reused.
    void tell();

private:
    std::function<websocket::Connection*()> m_openConnection;
    std::function<void()> m_listener;
    // The last address heard of each page, as a hash: an address may be
    // megabytes long.
    std::map<std::string, std::size_t> m_addresses;
    bool m_news = false;
    bool m_muted = false;
};

} // namespace tavro::browsers

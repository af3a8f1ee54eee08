#pragma once

#include "platform/http_fetch.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace tavro {

// A synchronous HTTP GET through libcurl. The call blocks the calling thread
// until the whole answer has arrived or the request has failed.
class CurlHttpFetch final : public HttpFetch {
public:
    // The longest answer accepted. No version file comes anywhere near it; the
    // limit keeps a broken or hostile server from filling memory.
    static constexpr std::size_t MaxBodyBytes = 64 * 1024;
    static constexpr int MaxRedirects = 5;

    // timeout covers the whole request: connecting, waiting and reading.
    explicit CurlHttpFetch(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    CurlHttpFetch(const CurlHttpFetch&) = delete;
    CurlHttpFetch& operator=(const CurlHttpFetch&) = delete;

    // Raises an Error numbered with curl's code and carrying curl's description
    // when the server cannot be reached or does not answer in time; an error
    // status of the server and a body over MaxBodyBytes are errors too.
    std::string OpenURL(const std::string& url) override;

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace tavro

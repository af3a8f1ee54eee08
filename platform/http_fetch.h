#pragma once

#include <string>

namespace tavro {

// Fetching a file over HTTP.
class HttpFetch {
public:
    virtual ~HttpFetch() = default;
    // The whole body of the answer, after it has arrived. Raises an Error with
    // the transport's description when the server cannot be reached, answers
    // with an error status, sends too much or does not answer in time.
    virtual std::string OpenURL(const std::string& url) = 0;
};

} // namespace tavro

#include "platform/curl/curl_http_fetch.h"

#include "platform/error.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace tavro {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct Reception {
    std::string body;
    bool tooLarge = false;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* userData) {
    auto& reception = *static_cast<Reception*>(userData);
    const std::size_t bytes = size * count;
    if (bytes > CurlHttpFetch::MaxBodyBytes - reception.body.size()) {
        reception.tooLarge = true;
        return 0; // anything short of bytes makes curl abort the transfer
    }
    reception.body.append(data, bytes);
    return bytes;
}

Error tooLarge() {
    return Error(CURLE_FILESIZE_EXCEEDED,
                 "The answer is larger than " + std::to_string(CurlHttpFetch::MaxBodyBytes) + " bytes");
}

template <typename Value> void set(CURL* handle, CURLoption option, Value value) {
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK)
        throw Error(static_cast<int>(code), curl_easy_strerror(code));
}

} // namespace

CurlHttpFetch::CurlHttpFetch(std::chrono::milliseconds timeout) : m_timeout(timeout) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string CurlHttpFetch::OpenURL(const std::string& url) {
    Easy easy(curl_easy_init());
    if (!easy)
        throw Error(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
    CURL* handle = easy.get();

    char message[CURL_ERROR_SIZE] = {};
    Reception reception;

    set(handle, CURLOPT_ERRORBUFFER, message);
    set(handle, CURLOPT_URL, url.c_str());
    // The vendor's addresses are web addresses; nothing else (files, other
    // protocols) may be reached through them or through a redirect.
    set(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(handle, CURLOPT_FOLLOWLOCATION, 1L);
    set(handle, CURLOPT_MAXREDIRS, static_cast<long>(MaxRedirects));
    set(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeout.count()));
    // Timeouts without signals: the program has other work on its thread.
    set(handle, CURLOPT_NOSIGNAL, 1L);
    // The program reads no environment variables, proxy variables included.
    set(handle, CURLOPT_PROXY, "");
    // An error page is never taken for the answer, whatever it holds.
    set(handle, CURLOPT_FAILONERROR, 1L);
    // Refuses at once when the server announces a body that is too large.
    set(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxBodyBytes));
    set(handle, CURLOPT_WRITEFUNCTION, &receive);
    set(handle, CURLOPT_WRITEDATA, static_cast<void*>(&reception));

    const CURLcode code = curl_easy_perform(handle);
    if (reception.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        throw tooLarge();
    if (code != CURLE_OK)
        throw Error(static_cast<int>(code), message[0] != '\0' ? message : curl_easy_strerror(code));

    // Statuses below 400 that are not a success (a redirect with no address to
    // follow, for one) carry no version file either.
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        throw Error(CURLE_HTTP_RETURNED_ERROR, "The requested URL returned status " + std::to_string(status));
    return std::move(reception.body);
}

} // namespace tavro

#include "platform/bidi/discovery.h"

#include "platform/browsers/listeners.h"
#include "platform/browsers/profile_files.h"
#include "platform/error.h"

namespace tavro::bidi {

namespace {

// The path Firefox serves its WebDriver BiDi sessions on.
constexpr const char* SessionPath = "/session";

} // namespace

std::string firefoxProfileFolder() {
    return browsers::programDataFolder() + "/firefox";
}

FirefoxPlaces defaultFirefoxPlaces() {
    return FirefoxPlaces{{firefoxProfileFolder() + "/WebDriverBiDiServer.json"}};
}

std::optional<std::uint16_t> readServerFile(const std::string& path) {
    const auto text = browsers::readOwnFile(path);
    if (!text)
        return std::nullopt;
    const Json server = Json::parse(*text, nullptr, false);
    if (!server.is_object())
        return std::nullopt;
    const auto host = server.find("ws_host");
    const auto port = server.find("ws_port");
    if (host == server.end() || !host->is_string() || port == server.end() || !port->is_number_unsigned())
        return std::nullopt;
    const std::string name = host->get<std::string>();
    if (name != "127.0.0.1" && name != "localhost")
        return std::nullopt;
    const auto number = port->get<std::uint64_t>();
    if (number == 0 || number > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

std::unique_ptr<Connection> connectToFirefox(const FirefoxPlaces& places, const browsers::Timeouts& timeouts,
                                             browsers::PlaceBackoff& backoff) {
    for (const std::string& file : places.serverFiles) {
        if (backoff.resting(file, Clock::now()))
            continue;
        const auto port = readServerFile(file);
        // A Firefox that was killed leaves its file behind, naming a closed
        // port; another user's listener there is no browser of ours.
        if (!port || browsers::portListener(*port) != browsers::Listener::Own)
            continue;
        try {
            std::unique_ptr<Connection> c = Connection::open(*port, SessionPath, timeouts.connect);
            startSession(*c, timeouts.browser);
            backoff.answered(file);
            return c;
        } catch (const Error&) {
            backoff.failed(file, Clock::now());
        }
    }
    return nullptr;
}

// A prompt left alone keeps its page answering scripts: with any other
// behaviour a page in alert() would stay unexamined until the user answers.
void startSession(Connection& c, std::chrono::milliseconds timeout) {
    const Json capabilities = {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}};
    const long id = c.send("session.new", {{"capabilities", capabilities}});
    c.wait({id}, Clock::now() + timeout);
    const std::optional<Json> answer = c.take(id);
    if (!answer) {
        c.forget(id);
        throw Error(errc::AutomationError, "Firefox did not start a session in time");
    }
    resultOf(*answer); // raises Firefox's own reason for a refusal
}

} // namespace tavro::bidi

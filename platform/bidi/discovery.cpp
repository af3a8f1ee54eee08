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

std::unique_ptr<Connection> connectToFirefox(const FirefoxPlaces& places,
                                             std::chrono::milliseconds timeoutEach) {
    std::optional<Error> failure;
    for (const std::string& file : places.serverFiles) {
        const auto port = readServerFile(file);
        // A Firefox that was killed leaves its file behind, naming a closed
        // port; another user's listener there is no browser of ours.
        if (!port || browsers::portListener(*port) != browsers::Listener::Own)
            continue;
        try {
            return Connection::open(*port, SessionPath, timeoutEach);
        } catch (const Error& e) {
            failure = e;
        }
    }
    if (failure)
        throw *failure;
    return nullptr;
}

} // namespace tavro::bidi

#include "browsers/bidi/discovery.h"

#include "browsers/mirror/profile_files.h"
#include "browsers/wire/json_message.h"

namespace tavro::bidi {

namespace {

// The path Firefox serves its WebDriver BiDi sessions on.
constexpr const char* SessionPath = "/session";

} // namespace

std::string firefoxProfileFolder() {
    return browsers::profileFolder("firefox");
}

FirefoxPlaces defaultFirefoxPlaces() {
    FirefoxPlaces places;
    if (const std::string folder = firefoxProfileFolder(); !folder.empty())
        places.serverFiles.push_back(folder + "/WebDriverBiDiServer.json");
    return places;
}

std::optional<std::uint16_t> readServerFile(const std::string& path) {
    const auto text = browsers::readOwnFile(path);
    if (!text)
        return std::nullopt;
    const wire::Json server = wire::Json::parse(*text, nullptr, false);
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

std::vector<browsers::Place> placesOf(const FirefoxPlaces& places) {
    std::vector<browsers::Place> all;
    for (const std::string& file : places.serverFiles) {
        all.push_back({file,
                       [file]() -> std::optional<browsers::Endpoint> {
                           const auto port = readServerFile(file);
                           if (!port)
                               return std::nullopt;
                           return browsers::Endpoint{*port, SessionPath};
                       },
                       nullptr});
    }
    return all;
}

} // namespace tavro::bidi

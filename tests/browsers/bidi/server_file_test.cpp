// The file through which Firefox names its WebDriver BiDi port: only a small
// file of the user's own, naming the loopback address, is believed.

#include "browsers/bidi/discovery.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::bidi {
namespace {

struct ServerFileCase {
    const char* text;
    std::optional<std::uint16_t> port;
};

class ServerFile : public ::testing::Test {
protected:
    ServerFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-bidi-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data());
        m_path = m_folder + "/WebDriverBiDiServer.json";
    }
    ~ServerFile() override { std::filesystem::remove_all(m_folder); }
    void write(const std::string& text) {
        std::filesystem::remove(m_path);
        std::ofstream(m_path) << text;
    }

    std::string m_folder;
    std::string m_path;
};

TEST_F(ServerFile, OnlyTheLoopbackAddressAndAPortInRangeAreBelieved) {
    const ServerFileCase cases[] = {
        {R"({"ws_host": "127.0.0.1", "ws_port": 40123})", 40123},
        {R"({"ws_host": "localhost", "ws_port": 1})", 1},
        {R"({"ws_host": "192.168.1.9", "ws_port": 40123})", std::nullopt},
        {R"({"ws_host": "127.0.0.1", "ws_port": 0})", std::nullopt},
        {R"({"ws_host": "127.0.0.1", "ws_port": 65536})", std::nullopt},
        {R"({"ws_host": "127.0.0.1", "ws_port": -5})", std::nullopt},
        {R"({"ws_host": "127.0.0.1", "ws_port": "40123"})", std::nullopt},
        {R"({"ws_port": 40123})", std::nullopt},
        {R"([1, 2])", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const ServerFileCase& c : cases) {
        write(c.text);
        EXPECT_EQ(readServerFile(m_path), c.port) << c.text;
    }
}

TEST_F(ServerFile, AFileOthersCanWriteALinkOrALargeFileIsNotBelieved) {
    write(R"({"ws_host": "127.0.0.1", "ws_port": 40123})");
    ::chmod(m_path.c_str(), 0666);
    EXPECT_EQ(readServerFile(m_path), std::nullopt);
    ::chmod(m_path.c_str(), 0600);
    ASSERT_EQ(readServerFile(m_path), 40123);

    const std::string link = m_folder + "/link.json";
    std::filesystem::create_symlink(m_path, link);
    EXPECT_EQ(readServerFile(link), std::nullopt);

    write(R"({"ws_host": "127.0.0.1", "ws_port": 40123, "padding": ")" + std::string(5000, 'x') + "\"}");
    EXPECT_EQ(readServerFile(m_path), std::nullopt);
    EXPECT_EQ(readServerFile(m_folder + "/missing.json"), std::nullopt);
}

} // namespace
} // namespace tavro::bidi

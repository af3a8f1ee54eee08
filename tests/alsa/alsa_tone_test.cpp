// The tone written through ALSA's file plugin, so its samples can be looked at
// without a sound card, and the failure without a device.

#include "platform/alsa/alsa_tone.h"
#include "platform/error.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace tavro {
namespace {

int zeroCrossings(const std::vector<std::int16_t>& samples) {
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    }
    return crossings;
}

class AlsaToneTest : public ::testing::Test {
protected:
    // ALSA keeps its parsed configuration for the life of the process.
    ~AlsaToneTest() override { snd_config_update_free_global(); }
};

TEST_F(AlsaToneTest, PlaysTheWholeToneAtItsFrequency) {
    const auto file =
        std::filesystem::temp_directory_path() / ("tavro-tone-" + std::to_string(::getpid()) + ".raw");
    alsa::AlsaTone tone("file:FILE=" + file.string() + ",FORMAT=raw");
    tone.Beep(800, 25);

    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(file);
    // 25 ms at 48 kHz, 16-bit mono.
    ASSERT_EQ(bytes.size(), 1200U * 2U);
    std::vector<std::int16_t> samples(1200);
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    // 800 Hz for 25 ms is 20 periods: two sign changes each.
    EXPECT_NEAR(zeroCrossings(samples), 40, 2);
}

TEST_F(AlsaToneTest, NullDeviceTakesTheTone) {
    EXPECT_NO_THROW(alsa::AlsaTone("null").Beep(800, 25));
}

TEST_F(AlsaToneTest, MissingDeviceRaisesAnError) {
    EXPECT_THROW(alsa::AlsaTone("hw:97,0").Beep(800, 25), Error);
    EXPECT_THROW(alsa::AlsaTone("no-such-device").Beep(800, 25), Error);
}

TEST(ToneSamples, StartAndEndSilentWithoutClicks) {
    const auto samples = alsa::toneSamples(800, 25, 48000);
    ASSERT_EQ(samples.size(), 1200U);
    EXPECT_EQ(samples.front(), 0);
    EXPECT_EQ(samples.back(), 0);
    const auto loudest = *std::max_element(samples.begin(), samples.end());
    EXPECT_GT(loudest, 16000);
    EXPECT_LE(loudest, 16384);
    EXPECT_TRUE(alsa::toneSamples(800, 0, 48000).empty());
}

} // namespace
} // namespace tavro

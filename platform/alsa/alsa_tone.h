#pragma once

#include "platform/tone.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavro::alsa {

// A sine tone on an ALSA playback device.
class AlsaTone final : public Tone {
public:
    // device: an ALSA PCM name; "default" is the user's sound output.
    explicit AlsaTone(std::string device = "default");

    // Plays the tone and returns when the device has played it; raises an
    // Error when the device cannot be opened or refuses the sound.
    void Beep(int frequencyHz, int durationMs) override;

private:
    std::string m_device;
};

// The samples of a tone: signed 16-bit mono at the given rate, faded in and
// out over a millisecond so it starts and ends without a click.
std::vector<std::int16_t> toneSamples(int frequencyHz, int durationMs, unsigned rate);

} // namespace tavro::alsa

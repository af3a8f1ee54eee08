#include "platform/alsa/alsa_tone.h"

#include "platform/error.h"

#include <alsa/asoundlib.h>
#include <cmath>
#include <numbers>

namespace tavro::alsa {

namespace {

constexpr unsigned SampleRate = 48000;
constexpr unsigned LatencyMicroseconds = 50000;
constexpr double Amplitude = 0.5 * 32767.0;

// Owns an open PCM so every way out of Beep closes it.
class Pcm {
public:
    explicit Pcm(const std::string& device) {
        const int rc = snd_pcm_open(&m_pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
        if (rc < 0) {
            m_pcm = nullptr;
            throw Error(rc, "No sound device: " + device + ": " + snd_strerror(rc));
        }
    }
    ~Pcm() {
        if (m_pcm != nullptr)
            snd_pcm_close(m_pcm);
    }
    Pcm(const Pcm&) = delete;
    Pcm& operator=(const Pcm&) = delete;
    snd_pcm_t* get() const { return m_pcm; }

private:
    snd_pcm_t* m_pcm = nullptr;
};

void check(int rc, const char* what) {
    if (rc < 0)
        throw Error(rc, std::string("The sound device ") + what + ": " + snd_strerror(rc));
}

// ALSA reports its own failures on stderr; ours reach the caller as an Error,
// and a machine without a sound card would otherwise print at every block.
void quietErrorHandler(const char*, int, const char*, int, const char*, ...) {}

} // namespace

std::vector<std::int16_t> toneSamples(int frequencyHz, int durationMs, unsigned rate) {
    if (frequencyHz <= 0 || durationMs <= 0)
        return {};
    const auto count = static_cast<std::size_t>(static_cast<unsigned long long>(durationMs) * rate / 1000U);
    const std::size_t fade = std::min<std::size_t>(rate / 1000U, count / 2);
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        double gain = 1.0;
        if (fade > 0 && i < fade)
            gain = static_cast<double>(i) / static_cast<double>(fade);
        else if (fade > 0 && count - i <= fade)
            gain = static_cast<double>(count - 1 - i) / static_cast<double>(fade);
        const double phase = 2.0 * std::numbers::pi * frequencyHz * static_cast<double>(i) / rate;
        samples[i] = static_cast<std::int16_t>(std::lround(Amplitude * gain * std::sin(phase)));
    }
    return samples;
}

AlsaTone::AlsaTone(std::string device) : m_device(std::move(device)) {
    snd_lib_error_set_handler(quietErrorHandler);
}

void AlsaTone::Beep(int frequencyHz, int durationMs) {
    const std::vector<std::int16_t> samples = toneSamples(frequencyHz, durationMs, SampleRate);
    Pcm pcm(m_device);
    check(snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, SampleRate,
                             1, LatencyMicroseconds),
          "refuses the tone's format");
    std::size_t written = 0;
    while (written < samples.size()) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm.get(), samples.data() + written, samples.size() - written);
        if (n < 0)
            n = snd_pcm_recover(pcm.get(), static_cast<int>(n), 1);
        if (n < 0)
            check(static_cast<int>(n), "failed while playing");
        else
            written += static_cast<std::size_t>(n);
    }
    // Return only once the tone has been heard, as the caller expects.
    check(snd_pcm_drain(pcm.get()), "failed to finish the tone");
}

} // namespace tavro::alsa

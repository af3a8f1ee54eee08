#pragma once

namespace tavro {

class Tone {
public:
    virtual ~Tone() = default;
    // Sounds a tone and returns when it has ended; raises an Error when no sound
    // device can play it.
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

} // namespace tavro

#pragma once

#include <string>
#include <sys/types.h>

namespace tavro::testing {

// A display of a virtual X server started for the test (Xvfb), or nothing
// when Xvfb cannot be started.
class VirtualDisplay final {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool running() const { return !m_name.empty(); }
    // ":NN"
    const std::string& name() const { return m_name; }

private:
    void stop();

    std::string m_name;
    pid_t m_pid = -1;
};

} // namespace tavro::testing

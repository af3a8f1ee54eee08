#pragma once

#include "platform/toolkit.h"

#include <cstdint>
#include <string>

namespace tavro {

inline constexpr std::uint32_t HELP_CONTEXT = 1;
inline constexpr std::uint32_t HELP_QUIT = 2;
inline constexpr std::uint32_t HELP_CONTENTS = 3;

// The help viewer, a program of its own that shows the help file.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Hands the viewer a request: the contents, one topic (data is the topic
    // number) or the owner's quit. Returns non-zero when the viewer took it,
    // or was started to take it; a missing help file is the viewer's to report. Raises an Error when the
    // viewer cannot be reached or started at all.
    virtual int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                        std::uint32_t data) = 0;
};

} // namespace tavro

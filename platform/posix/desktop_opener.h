#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavro {

// Opens an address in the user's default web browser through the desktop's
// opener command, for when no browser with a debugging port is running.
class DesktopOpener final {
public:
    // command is looked up on PATH; wait is how long an opening that has not
    // finished is watched for a failure before it is left to itself.
    explicit DesktopOpener(std::string command = "xdg-open",
                           std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
    ~DesktopOpener();
    DesktopOpener(const DesktopOpener&) = delete;
    DesktopOpener& operator=(const DesktopOpener&) = delete;

    // True when the command can be run.
    bool available() const;
    // Raises an Error when the command cannot be started or reports a failure.
    void open(const std::string& url);

private:
    void reapFinished();

    std::string m_command;
    std::chrono::milliseconds m_wait;
    // Openers still running when we stopped watching, reaped later so none is
    // left behind as a zombie.
    std::vector<pid_t> m_running;
};

} // namespace tavro

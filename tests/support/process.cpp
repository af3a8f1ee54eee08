#include "tests/support/process.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro::testing {

pid_t spawnInGroup(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A group of its own, so the browser's helper processes end with it.
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        for (const std::string& e : environment)
            ::putenv(const_cast<char*>(e.c_str()));
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

void killGroup(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
}

} // namespace tavro::testing

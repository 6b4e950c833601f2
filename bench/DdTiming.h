#pragma once

// The peer figure of the whole-medium benchmarks: how long `dd bs=1M` takes
// to read the image, as the same process sees it.

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// dd's wall time in seconds, or a negative number when it could not be run;
// `flag` is one more operand for dd ("iflag=direct"), or none.
inline double timeDd(const std::string& image, const std::string& flag = {}) {
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        const std::string in = "if=" + image;
        ::execlp("dd", "dd", in.c_str(), "of=/dev/null", "bs=1M", flag.empty() ? nullptr : flag.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

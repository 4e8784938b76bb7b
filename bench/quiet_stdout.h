#pragma once
// Runs a function with standard output going nowhere: the receiver's
// start-up and teardown lines would break up a benchmark's table.

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace talvek::bench {

template <typename F>
void quietly(F f) {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    if (saved >= 0 && null >= 0) dup2(null, 1);
    f();
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
    }
    if (null >= 0) close(null);
}

}  // namespace talvek::bench

#pragma once
// Invariant checks and quiet output for the fuzz targets.

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: libFuzzer saves the input that broke it.
// The line goes to standard error, which scripts/fuzz.sh closes for speed;
// running the target on the saved input alone shows it.
#define FUZZ_CHECK(cond)                                                               \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
                         #cond);                                                       \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

namespace talvek::fuzz {

// The programs' progress lines go to standard output, once per bring-up and
// teardown; at thousands of inputs a second they would cost more than the
// work under test. Their failure lines (standard error) are silenced by
// libFuzzer's -close_fd_mask, which keeps its own and the sanitizers' reports.
inline void silence_stdout() {
    if (!std::freopen("/dev/null", "w", stdout)) std::fclose(stdout);
}

}  // namespace talvek::fuzz

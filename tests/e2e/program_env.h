#pragma once
// Environment for a program under test: the given entries, plus what the
// sanitizer build needs to name leaks in Mesa's software GL driver. That
// driver is loaded and unloaded by libGL, so its leaks would show up as
// "<unknown module>", which no suppression can match; kept loaded from the
// start, they carry its name and tests/lsan.supp suppresses them.

#include <cstdlib>
#include <string>
#include <vector>

namespace talvek::testing {

inline std::vector<std::string> program_env(std::vector<std::string> entries) {
#ifdef E2E_PRELOAD_GL_DRIVER
    entries.push_back("LD_PRELOAD=" E2E_PRELOAD_GL_DRIVER);
    const char* inherited = std::getenv("ASAN_OPTIONS");
    // A preloaded library comes before the ASan runtime: tell ASan that is fine.
    entries.push_back(std::string("ASAN_OPTIONS=") + (inherited ? inherited : "") +
                      ":verify_asan_link_order=0");
#endif
    return entries;
}

}  // namespace talvek::testing

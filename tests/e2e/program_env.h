#pragma once
// Environment for a program under test: the given entries, plus what the
// sanitizer build needs for Mesa's software GL driver. libGL loads and
// unloads that driver, and what the driver still holds then looks leaked
// from "<unknown module>", which no suppression can match; kept loaded from
// the start, the driver's memory stays reachable to the end.

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

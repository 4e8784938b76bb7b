#pragma once
// Small helpers for checking captured log output.

#include <cstdio>
#include <string>

namespace talvek::testing {

// Occurrences that do not overlap one another.
inline size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// How the log lines print a pointer.
inline std::string pointer_text(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", const_cast<void*>(p));
    return buf;
}

}  // namespace talvek::testing

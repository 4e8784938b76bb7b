#include "log.h"

namespace talvek {

TALVEK_PRINTF(2, 0) static void write_line(FILE* stream, const char* format, va_list args) {
    std::vfprintf(stream, format, args);
    std::fflush(stream);
}

void log_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(stdout, format, args);
    va_end(args);
}

void log_err(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(stderr, format, args);
    va_end(args);
}

}  // namespace talvek

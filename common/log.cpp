#include "log.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace talvek {

TALVEK_PRINTF(2, 0) static void write_line(FILE* stream, const char* format, va_list args) {
#ifdef _WIN32
    // The C run-time's text mode would end each line in "\r\n" on Windows;
    // the host reads the same bytes from us on every platform.
    static const bool binary = [] {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        return true;
    }();
    (void)binary;
#endif
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

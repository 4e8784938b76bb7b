#pragma once
// The two log streams: progress to standard output, failures to standard
// error. Every line is flushed at once because the host application reads
// our output through a pipe, where stdio would otherwise hold it back.

#include <cstdarg>
#include <cstdio>

namespace talvek {

#if defined(__MINGW_PRINTF_FORMAT)
// MinGW: the format checks of the printf the build uses (its own C99 one).
#define TALVEK_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define TALVEK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TALVEK_PRINTF(fmt, args)
#endif

void log_out(const char* format, ...) TALVEK_PRINTF(1, 2);
void log_err(const char* format, ...) TALVEK_PRINTF(1, 2);

}  // namespace talvek

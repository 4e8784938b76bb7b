#pragma once
// Owns a libavformat output context for the tests that write media files:
// closes the file if one was opened, then frees the context.

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace talvek::testing {

struct FormatOutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using FormatOutputPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;

}  // namespace talvek::testing

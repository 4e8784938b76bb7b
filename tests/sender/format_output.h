#pragma once
// A media file being written by the tests' clip makers: closed and freed
// together, whichever way the maker returns.

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace talvek::tools::testing {

struct FormatOutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using FormatOutputPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;

}  // namespace talvek::tools::testing

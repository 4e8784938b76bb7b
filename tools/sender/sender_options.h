#pragma once
// Options shared by every mode of the sender.

#include <cstdint>
#include <string>

#include "impairment.h"

namespace talvek::tools {

struct SenderOptions {
    std::string mode;
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    int width = 1280;
    int height = 720;
    double fps = 30.0;
    long frames = 0;        // 0: run for `seconds`
    double seconds = 5.0;
    uint32_t first_frame = 1;
    ImpairmentOptions impairment;
    bool verbose = false;
    bool quiet = false;
};

// Parses argv (mode first). Prints the reason and returns false on error.
bool parse_sender_options(int argc, char** argv, SenderOptions& options);
void print_sender_usage(const char* program);

}  // namespace talvek::tools

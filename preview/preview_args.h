#pragma once
// preview's command line: a plain record with its defaults and the parser.

#include <cstdint>
#include <string>

struct Args {
    uint16_t port = 0;         // 0 means none was given
    uint16_t parent_port = 0;  // parsed and stored, never used
    int32_t width = 1280;
    int32_t height = 720;
    std::string title = "Stream Preview";
};

// Fills args from argv; false (after printing the reason) when the program
// must not start. The caller prints the usage text.
bool parse_args(int argc, char** argv, Args& args);

// Usage text for argv[0], to standard error.
void print_usage(const char* program);

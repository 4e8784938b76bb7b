#pragma once
// Runs a program's parse_args on words as they would follow the program's
// name on its command line, and keeps what it wrote to standard error.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace talvek::testing {

template <typename Args>
struct Parsed {
    bool ok = false;
    Args args{};
    std::string errors;
};

template <typename Args, typename Parse>
Parsed<Args> parse_words(const char* program, std::initializer_list<const char*> words,
                         Parse parse) {
    std::vector<std::string> storage = {program};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    Parsed<Args> result;
    ::testing::internal::CaptureStderr();
    result.ok = parse(static_cast<int>(argv.size()), argv.data(), result.args);
    result.errors = ::testing::internal::GetCapturedStderr();
    return result;
}

}  // namespace talvek::testing

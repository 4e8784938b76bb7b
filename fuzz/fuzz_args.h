#pragma once
// argv for a parse_args from the fuzzer's bytes: the program name, then the
// NUL-separated pieces of the input, each a string of its own (the last one
// is terminated here). Capped so a long run of NULs stays cheap.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvek::fuzz {

class FuzzArgv {
public:
    static constexpr size_t MAX_ARGS = 64;

    FuzzArgv(const char* program, const uint8_t* data, size_t size) {
        args.emplace_back(program);
        std::string piece;
        for (size_t i = 0; i < size && args.size() < MAX_ARGS; ++i) {
            if (data[i] == 0) {
                args.push_back(std::move(piece));
                piece.clear();
            } else {
                piece.push_back(static_cast<char>(data[i]));
            }
        }
        if (!piece.empty() && args.size() < MAX_ARGS) args.push_back(std::move(piece));
        for (auto& a : args) pointers.push_back(a.data());
        pointers.push_back(nullptr);  // argv[argc] is null, as for main
    }

    int argc() const { return static_cast<int>(args.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> args;
    std::vector<char*> pointers;
};

}  // namespace talvek::fuzz

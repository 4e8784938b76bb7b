#pragma once
// The command line in UTF-8 on Windows. A console program's main receives
// argv in the ANSI code page, which turns "Jürgen" into "J?rgen"; SDL and the
// rest of player take UTF-8, so main rebuilds argv from the wide-character
// command line, as SDL2main does for a windowed program.

#include <string>
#include <vector>

class Utf8Argv {
public:
    // Reads and converts the process's command line; empty when that fails,
    // and main then keeps the argv it was given.
    Utf8Argv();
    Utf8Argv(const Utf8Argv&) = delete;
    Utf8Argv& operator=(const Utf8Argv&) = delete;

    bool empty() const { return args.empty(); }
    int argc() const { return static_cast<int>(args.size()); }
    // argc() pointers and a terminating null, valid while this object lives.
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> args;
    std::vector<char*> pointers;
};

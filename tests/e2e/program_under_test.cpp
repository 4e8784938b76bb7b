#include "program_under_test.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "program_env.h"

namespace talvek::testing {

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

ProgramUnderTest::ProgramUnderTest(const char* variable, std::string built_path)
    : program_path(std::move(built_path)) {
    if (const char* other = std::getenv(variable); other && *other) {
        program_path = other;
        if (const char* words = std::getenv("TALVEK_E2E_LAUNCHER")) {
            std::istringstream in(words);
            for (std::string word; in >> word;) launcher.push_back(word);
        }
    }
    is_windows = ends_with(program_path, ".exe");
}

std::vector<std::string> ProgramUnderTest::command(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = launcher;
    argv.push_back(program_path);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> ProgramUnderTest::env(std::vector<std::string> entries) const {
    if (is_windows) {
        entries.erase(std::remove(entries.begin(), entries.end(), "SDL_VIDEODRIVER=x11"),
                      entries.end());
    }
    return program_env(std::move(entries));
}

std::string ProgramUnderTest::shown_name() const {
    if (!is_windows || program_path.empty() || program_path[0] != '/') return program_path;
    // wine hands a Unix path over as the drive Z: path of the same file.
    std::string name = "Z:" + program_path;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

int socket_error_code(const ProgramUnderTest& program, int posix_errno) {
    if (!program.windows()) return posix_errno;
    // Winsock's numbers (WSAEMSGSIZE, WSAEADDRINUSE, WSAECONNRESET) for the
    // errno values the tests meet.
    switch (posix_errno) {
    case EMSGSIZE: return 10040;
    case EADDRINUSE: return 10048;
    case ECONNRESET: return 10054;
    default: return posix_errno;
    }
}

}  // namespace talvek::testing

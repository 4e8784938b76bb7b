#pragma once
// The program an end-to-end test starts: the one this build made, or another
// build of it named in the environment and started through a launcher. The
// same tests so run against the Linux programs and, under wine, against the
// Windows ones:
//
//   TALVEK_E2E_PLAYER=/path/player.exe      the program to test instead of
//   TALVEK_E2E_PREVIEW=/path/preview.exe    the built one
//   TALVEK_E2E_LAUNCHER="/usr/lib/wine/wine64"   words put before it
//
// A program whose file name ends in ".exe" is a Windows program: the tests
// then expect what Windows does where it differs by nature (its socket error
// codes, its drivers).

#include <string>
#include <vector>

namespace talvek::testing {

class ProgramUnderTest {
public:
    // `variable` names the environment entry that may replace `built_path`.
    ProgramUnderTest(const char* variable, std::string built_path);

    // The command that starts it with `args`: launcher, path, arguments.
    std::vector<std::string> command(const std::vector<std::string>& args = {}) const;

    // Its environment: `entries` and what the sanitizer build needs
    // (program_env), less the video driver choices Windows SDL lacks: it has
    // no "x11" driver, and draws on $DISPLAY through wine with none named.
    std::vector<std::string> env(std::vector<std::string> entries) const;

    // What the program sees as argv[0], which its usage line prints.
    std::string shown_name() const;

    bool windows() const { return is_windows; }
    const std::string& path() const { return program_path; }

private:
    std::string program_path;
    std::vector<std::string> launcher;
    bool is_windows = false;
};

// A socket error code as the program reports it: Winsock numbers its errors
// apart from errno (WSAEMSGSIZE is 10040 where EMSGSIZE is 90).
int socket_error_code(const ProgramUnderTest& program, int posix_errno);

}  // namespace talvek::testing

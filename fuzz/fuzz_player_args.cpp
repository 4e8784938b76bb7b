// player's parse_args on a command line built from the input (fuzz_args.h).
// Whatever the arguments, a true result has a port, and the volume and the
// codec stay in the ranges the rest of the program relies on.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_args.h"
#include "fuzz_check.h"
#include "player_args.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    talvek::fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    talvek::fuzz::FuzzArgv command("player", data, size);
    Args args;
    const bool ok = parse_args(command.argc(), command.argv(), args);
    FUZZ_CHECK(ok == (args.port != 0));
    FUZZ_CHECK(!std::isnan(args.audio_volume));
    FUZZ_CHECK(args.audio_volume >= 0.0f && args.audio_volume <= 1.0f);
    FUZZ_CHECK(static_cast<uint8_t>(args.codec) <= 3);
    return 0;
}

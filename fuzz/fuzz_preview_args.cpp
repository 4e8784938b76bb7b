// preview's parse_args on a command line built from the input (fuzz_args.h).
// A true result has a port and a frame size whose byte count, the texture's
// pitch times its height, fits an int.

#include <climits>
#include <cstddef>
#include <cstdint>

#include "fuzz_args.h"
#include "fuzz_check.h"
#include "preview_args.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    talvek::fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    talvek::fuzz::FuzzArgv command("preview", data, size);
    Args args;
    if (!parse_args(command.argc(), command.argv(), args)) return 0;
    FUZZ_CHECK(args.port != 0);
    FUZZ_CHECK(args.width > 0 && args.height > 0);
    FUZZ_CHECK(static_cast<int64_t>(args.width) * args.height * 4 <= INT_MAX);
    return 0;
}

#pragma once

#include "sender_options.h"

namespace talvek::tools {

// Streams raw test-pattern frames to a preview window. Returns the exit code.
int run_preview_mode(const SenderOptions& options);

}  // namespace talvek::tools

#pragma once

#include "sender_options.h"

namespace talvek::tools {

// Streams encoded video to a player as the host application does and
// answers its replies. Returns the exit code.
int run_player_mode(const SenderOptions& options);

}  // namespace talvek::tools

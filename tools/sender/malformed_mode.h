#pragma once

#include "sender_options.h"

namespace talvek::tools {

// Sends broken datagrams to a player, one kind or all in turn, and prints
// whatever it replies. Returns the exit code.
int run_malformed_mode(const SenderOptions& options);

}  // namespace talvek::tools

#pragma once

#include "sender_options.h"

namespace talvek::tools {

// Streams screen audio alone to a player, as the host application does
// for a stream with sound, and prints what the player replies. Returns the
// exit code.
int run_audio_mode(const SenderOptions& options);

}  // namespace talvek::tools

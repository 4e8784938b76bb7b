// Screen audio of the receiver.

#include "video_receiver.h"

namespace talvek::client {

void VideoReceiver::handle_screen_audio(const uint8_t* data, int length) {
    (void)data;
    (void)length;
    if (!audio_enabled || !running.load()) return;
}

}  // namespace talvek::client

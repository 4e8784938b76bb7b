#pragma once
// Pre-encoded frames for the player mode's --clip: 1920x1080 VP8 costs the
// real-time encoder several times the frame interval on this machine, so a
// long run streams frames encoded once instead. The file is the one
// tools/replay/stream_replay --encode-only leaves in its --clip-cache folder
// (the benchmarks' clip cache):
//
//   0   u32  magic 0x50434c31 ("PCL1")
//   4   u32  frame count
//   then per frame:
//       u8   1 for a keyframe, else 0
//       u32  size in bytes
//       ...  the frame as the encoder gave it
//
// Host byte order: the file never leaves the machine that wrote it.

#include <string>
#include <vector>

#include "video_encoder.h"

namespace talvek::tools {

// Reads the whole clip into `out`. Logs and returns false when the file is
// missing, truncated, empty or does not start with a keyframe (the first
// frame is what a keyframe request restarts from).
bool load_clip_file(const std::string& path, std::vector<EncodedFrame>& out);
// Writes the frames in that form; false when the file cannot be written.
bool save_clip_file(const std::string& path, const std::vector<EncodedFrame>& frames);

}  // namespace talvek::tools

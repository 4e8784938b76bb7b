#pragma once
// The screen-audio gain: each 16-bit value times the volume in 32-bit float
// arithmetic, the fraction dropped (toward zero), clamped to the 16-bit
// range. A volume of exactly 1.0 leaves the values untouched without a pass
// over them; any other value, 0.0 included, scales.

namespace talvek::client {

void apply_gain(short* values, int count, float volume);

}  // namespace talvek::client

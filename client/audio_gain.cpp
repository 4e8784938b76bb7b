#include "audio_gain.h"

#include <cstdint>

namespace talvek::client {

void apply_gain(short* values, int count, float volume) {
    if (volume == 1.0f) return;  // bit-exact on purpose: the default costs nothing
    for (int i = 0; i < count; ++i) {
        float product = static_cast<float>(values[i]) * volume;
        // Clamping before the conversion gives what clamping the truncated
        // value would, and keeps a huge or NaN volume (the volume is not
        // range-checked) from overflowing the float-to-int conversion.
        if (product > 32767.0f) {
            product = 32767.0f;
        } else if (!(product >= -32768.0f)) {
            product = product < 0.0f ? -32768.0f : 0.0f;  // NaN plays as silence
        }
        values[i] = static_cast<short>(static_cast<int32_t>(product));
    }
}

}  // namespace talvek::client

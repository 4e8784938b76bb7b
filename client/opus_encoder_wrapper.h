#pragma once
// Owns one libopus encoder with a voice sender's settings. PCM is signed
// 16-bit, interleaved by channel; frame_size counts samples per channel.
// encode() on a wrapper without an encoder returns -1. Nothing here prints.

struct OpusEncoder;

namespace talvek {

class OpusEncoderWrapper {
public:
    OpusEncoderWrapper() = default;
    ~OpusEncoderWrapper() { destroy(); }
    OpusEncoderWrapper(const OpusEncoderWrapper&) = delete;
    OpusEncoderWrapper& operator=(const OpusEncoderWrapper&) = delete;
    OpusEncoderWrapper(OpusEncoderWrapper&& other) noexcept;
    OpusEncoderWrapper& operator=(OpusEncoderWrapper&& other) noexcept;

    // Destroys any encoder first, then creates one at 48 kbit/s; for
    // OPUS_APPLICATION_VOIP also voice signal, DTX, in-band FEC and 10 %
    // expected loss. On false the wrapper is empty.
    bool init(int sample_rate, int channels, int application);
    void destroy();

    // Bytes written to out, or a negative libopus error.
    int encode(const short* pcm, int frame_size, unsigned char* out, int max_bytes);
    void set_bitrate(int bits_per_second);

private:
    OpusEncoder* encoder = nullptr;
};

}  // namespace talvek

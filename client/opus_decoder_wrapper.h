#pragma once
// Owns one libopus decoder. PCM is signed 16-bit, interleaved by channel;
// frame sizes and results count samples per channel, as libopus does (a 20 ms
// frame at 48000 Hz is 960, or 1920 values in stereo). Every decode call on
// a wrapper without a decoder returns -1, the value of OPUS_BAD_ARG, so
// callers treat every result <= 0 alike. Nothing here prints.

struct OpusDecoder;

namespace talvek {

class OpusDecoderWrapper {
public:
    OpusDecoderWrapper() = default;
    ~OpusDecoderWrapper() { destroy(); }
    OpusDecoderWrapper(const OpusDecoderWrapper&) = delete;
    OpusDecoderWrapper& operator=(const OpusDecoderWrapper&) = delete;
    OpusDecoderWrapper(OpusDecoderWrapper&& other) noexcept;
    OpusDecoderWrapper& operator=(OpusDecoderWrapper&& other) noexcept;

    // Destroys any decoder first; on false the wrapper is empty.
    bool init(int sample_rate, int channels);
    void destroy();

    int decode(const unsigned char* data, int len, short* pcm, int frame_size);
    // Conceals one lost frame of frame_size samples per channel.
    int decode_plc(short* pcm, int frame_size);
    // Rebuilds the frame before `data` from its in-band FEC; -1 without a packet.
    int decode_fec(const unsigned char* data, int len, short* pcm, int frame_size);

private:
    OpusDecoder* decoder = nullptr;
};

}  // namespace talvek

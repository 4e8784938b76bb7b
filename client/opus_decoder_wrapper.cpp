#include "opus_decoder_wrapper.h"

#include <opus.h>

#include <utility>

namespace talvek {

namespace {
constexpr int NO_CODEC = -1;
}

OpusDecoderWrapper::OpusDecoderWrapper(OpusDecoderWrapper&& other) noexcept
    : decoder(std::exchange(other.decoder, nullptr)) {}

OpusDecoderWrapper& OpusDecoderWrapper::operator=(OpusDecoderWrapper&& other) noexcept {
    if (this != &other) {
        destroy();
        decoder = std::exchange(other.decoder, nullptr);
    }
    return *this;
}

bool OpusDecoderWrapper::init(int sample_rate, int channels) {
    destroy();
    int error = 0;
    decoder = opus_decoder_create(sample_rate, channels, &error);
    if (error != 0 || decoder == nullptr) {
        decoder = nullptr;  // libopus returns null on every error
        return false;
    }
    return true;
}

void OpusDecoderWrapper::destroy() {
    if (decoder == nullptr) return;
    opus_decoder_destroy(decoder);
    decoder = nullptr;
}

int OpusDecoderWrapper::decode(const unsigned char* data, int len, short* pcm, int frame_size) {
    if (decoder == nullptr) return NO_CODEC;
    return opus_decode(decoder, data, len, pcm, frame_size, 0);
}

int OpusDecoderWrapper::decode_plc(short* pcm, int frame_size) {
    if (decoder == nullptr) return NO_CODEC;
    return opus_decode(decoder, nullptr, 0, pcm, frame_size, 0);
}

int OpusDecoderWrapper::decode_fec(const unsigned char* data, int len, short* pcm,
                                   int frame_size) {
    if (decoder == nullptr || data == nullptr || len <= 0) return NO_CODEC;
    return opus_decode(decoder, data, len, pcm, frame_size, 1);
}

}  // namespace talvek

// Encoded frames cut into video fragment datagrams: the pieces join back to
// the frame, every header field is what a player checks, and frames a
// player could never hold (over 1000 fragments) are refused whole.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "fragmenter.h"
#include "media_header.h"
#include "video_encoder.h"

namespace talvek::tools {
namespace {

constexpr size_t SLOT = 1400;

std::vector<uint8_t> counting_bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

// A real keyframe, large enough to need many fragments: noise does not
// compress.
std::vector<uint8_t> encoded_keyframe() {
    EncoderSettings settings;
    settings.width = 320;
    settings.height = 240;
    settings.bitrate = 20'000'000;
    VideoEncoder encoder;
    if (!encoder.open(settings)) return {};
    FramePtr picture = make_yuv_frame(320, 240);
    uint32_t noise = 12345;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 240 : 120;
        for (int y = 0; y < rows; ++y) {
            uint8_t* row =
                picture->data[plane] + static_cast<ptrdiff_t>(y) * picture->linesize[plane];
            for (int x = 0; x < picture->linesize[plane]; ++x) {
                noise = noise * 1664525u + 1013904223u;
                row[x] = static_cast<uint8_t>(noise >> 24);
            }
        }
    }
    std::vector<EncodedFrame> out;
    if (encoder.encode(picture.get(), false, out) != 1) return {};
    return out.front().data;
}

// Checks every datagram of one frame against the fragment layout and
// returns the payloads joined in index order.
std::vector<uint8_t> check_and_join(const std::vector<Datagram>& datagrams, uint32_t frame_id,
                                    uint32_t first_sequence) {
    std::vector<uint8_t> joined;
    const size_t count = datagrams.size();
    for (size_t i = 0; i < count; ++i) {
        const Datagram& d = datagrams[i];
        SCOPED_TRACE("fragment " + std::to_string(i));
        EXPECT_GE(d.size(), 41u);
        EXPECT_LE(d.size(), 40u + SLOT);
        if (d.size() < 40) continue;
        const MediaHeader media = read_media_header(d.data());
        EXPECT_EQ(media.flags, VOICE_FLAG_VIDEO);
        EXPECT_FALSE(is_screen_audio(media.flags));
        EXPECT_EQ(media.sequence, first_sequence + i);
        const FragmentHeader f = read_fragment_header(d.data());
        EXPECT_EQ(f.frame_id, frame_id);
        EXPECT_EQ(f.fragment_index, i);
        EXPECT_EQ(f.fragment_count, count);
        EXPECT_EQ(f.padding, 0);
        EXPECT_GE(f.payload_size, 1);
        EXPECT_LE(f.payload_size, SLOT);
        EXPECT_EQ(d.size(), 40u + f.payload_size);
        // Every piece but the last fills its 1400-byte slot: fragment i is
        // placed at byte i * 1400 of the frame.
        if (i + 1 < count) {
            EXPECT_EQ(f.payload_size, SLOT);
        }
        joined.insert(joined.end(), d.begin() + 40, d.end());
    }
    return joined;
}

TEST(VideoFragments, EncodedKeyframeJoinsBackFromItsFragments) {
    const std::vector<uint8_t> frame = encoded_keyframe();
    ASSERT_GT(frame.size(), 2 * SLOT) << "the keyframe should need three fragments or more";
    std::vector<Datagram> out;
    uint32_t sequence = 500;
    ASSERT_TRUE(cut_video_frame(42, frame.data(), frame.size(), sequence, out));
    EXPECT_EQ(out.size(), (frame.size() + SLOT - 1) / SLOT);
    EXPECT_EQ(check_and_join(out, 42, 500), frame);
    EXPECT_EQ(sequence, 500 + out.size());
}

TEST(VideoFragments, SequenceRunsOnAcrossFrames) {
    const std::vector<uint8_t> a = counting_bytes(3000);
    const std::vector<uint8_t> b = counting_bytes(10);
    uint32_t sequence = 0;
    std::vector<Datagram> first;
    std::vector<Datagram> second;
    ASSERT_TRUE(cut_video_frame(7, a.data(), a.size(), sequence, first));
    ASSERT_TRUE(cut_video_frame(8, b.data(), b.size(), sequence, second));
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(check_and_join(first, 7, 0), a);
    EXPECT_EQ(check_and_join(second, 8, 3), b);
}

TEST(VideoFragments, SizesAroundOneSlot) {
    for (size_t size : {size_t{1}, SLOT - 1, SLOT, SLOT + 1, 3 * SLOT}) {
        SCOPED_TRACE("frame of " + std::to_string(size) + " bytes");
        const std::vector<uint8_t> frame = counting_bytes(size);
        std::vector<Datagram> out;
        uint32_t sequence = 0;
        ASSERT_TRUE(cut_video_frame(1, frame.data(), frame.size(), sequence, out));
        EXPECT_EQ(out.size(), (size + SLOT - 1) / SLOT);
        EXPECT_EQ(check_and_join(out, 1, 0), frame);
    }
}

TEST(VideoFragments, ThousandFragmentFrameIsSent) {
    const std::vector<uint8_t> frame = counting_bytes(1000 * SLOT);
    std::vector<Datagram> out;
    uint32_t sequence = 0;
    ASSERT_TRUE(cut_video_frame(3, frame.data(), frame.size(), sequence, out));
    ASSERT_EQ(out.size(), 1000u);
    EXPECT_EQ(check_and_join(out, 3, 0), frame);
}

TEST(VideoFragments, FrameOverThousandFragmentsIsRefusedWhole) {
    const std::vector<uint8_t> frame = counting_bytes(1000 * SLOT + 1);
    std::vector<Datagram> out(1, Datagram(50, 0xAB));  // something already queued
    uint32_t sequence = 77;
    EXPECT_FALSE(cut_video_frame(3, frame.data(), frame.size(), sequence, out));
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front(), Datagram(50, 0xAB));
    EXPECT_EQ(sequence, 77u);
}

TEST(VideoFragments, EmptyFrameIsRefused) {
    // A fragment must carry at least one byte; a player drops payload_size 0.
    const uint8_t none = 0;
    std::vector<Datagram> out;
    uint32_t sequence = 0;
    EXPECT_FALSE(cut_video_frame(3, &none, 0, sequence, out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace talvek::tools

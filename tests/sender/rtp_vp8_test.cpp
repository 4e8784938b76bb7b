// The benchmark's RTP cut of a VP8 frame, as a stock depayloader reads it.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "rtp_vp8.h"

namespace {

using talvek::bench::cut_rtp_vp8_frame;
using Packets = std::vector<std::vector<uint8_t>>;

uint16_t u16_at(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

uint32_t u32_at(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint32_t>(u16_at(p, at)) << 16 | u16_at(p, at + 2);
}

TEST(RtpVp8, AFrameIsCutAt1400BytesWithTheMarkerOnItsLastPacketAndTheStartBitOnItsFirst) {
    std::vector<uint8_t> frame(3000);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + 3);
    uint16_t sequence = 65534;  // wraps within the frame
    Packets packets;
    cut_rtp_vp8_frame(frame.data(), frame.size(), 0x01020304, 0xA1B2C3D4, sequence, packets);

    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(sequence, 1u);
    const size_t sizes[] = {1413, 1413, 213};
    const uint16_t sequences[] = {65534, 65535, 0};
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < packets.size(); ++i) {
        const std::vector<uint8_t>& p = packets[i];
        ASSERT_EQ(p.size(), sizes[i]) << i;
        EXPECT_EQ(p[0], 0x80) << "version 2, no padding, extension or CSRC";
        EXPECT_EQ(p[1] & 0x7F, 96) << i;
        EXPECT_EQ((p[1] & 0x80) != 0, i == 2) << "marker on the frame's last packet only";
        EXPECT_EQ(u16_at(p, 2), sequences[i]);
        EXPECT_EQ(u32_at(p, 4), 0x01020304u) << "one timestamp for the whole frame";
        EXPECT_EQ(u32_at(p, 8), 0xA1B2C3D4u);
        EXPECT_EQ(p[12], i == 0 ? 0x10 : 0x00) << "S bit, partition 0";
        joined.insert(joined.end(), p.begin() + 13, p.end());
    }
    EXPECT_EQ(joined, frame);
}

TEST(RtpVp8, AFrameOfExactlyOnePayloadIsOnePacketAndAnEmptyFrameIsNone) {
    std::vector<uint8_t> frame(1400, 0x5A);
    uint16_t sequence = 9;
    Packets packets;
    cut_rtp_vp8_frame(frame.data(), frame.size(), 0, 1, sequence, packets);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 1413u);
    EXPECT_EQ(packets[0][1], 0x80 | 96) << "first and last at once";
    EXPECT_EQ(packets[0][12], 0x10);

    cut_rtp_vp8_frame(frame.data(), 0, 0, 1, sequence, packets);
    EXPECT_EQ(packets.size(), 1u);
    EXPECT_EQ(sequence, 10u);
}

}  // namespace

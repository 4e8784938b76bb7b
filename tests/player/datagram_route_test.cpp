// The main loop's one routing decision, on real datagram bytes.

#include "datagram_route.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A datagram of `length` bytes whose flags byte (offset 26) is `flags`;
// every other byte is `filler`, which must not matter.
std::vector<uint8_t> datagram(size_t length, uint8_t flags, uint8_t filler = 0) {
    std::vector<uint8_t> d(length, filler);
    if (length > 26) d[26] = flags;
    return d;
}

DatagramRoute route(const std::vector<uint8_t>& d) {
    return route_datagram(d.data(), static_cast<int>(d.size()));
}

TEST(DatagramRoute, ShorterThanTheHeaderIsDropped) {
    EXPECT_EQ(route(datagram(27, 0x04)), DatagramRoute::Dropped);
    EXPECT_EQ(route(datagram(1, 0x00)), DatagramRoute::Dropped);
    EXPECT_EQ(route_datagram(nullptr, 0), DatagramRoute::Dropped);
}

TEST(DatagramRoute, ExactlyTheHeaderIsDispatched) {
    EXPECT_EQ(route(datagram(28, 0x04)), DatagramRoute::ScreenAudio);
    EXPECT_EQ(route(datagram(28, 0x00)), DatagramRoute::Video);
}

TEST(DatagramRoute, OnlyTheScreenAudioBitDecides) {
    EXPECT_EQ(route(datagram(100, 0x06)), DatagramRoute::ScreenAudio);
    EXPECT_EQ(route(datagram(100, 0xFF)), DatagramRoute::ScreenAudio);
    EXPECT_EQ(route(datagram(100, 0x02)), DatagramRoute::Video);
    EXPECT_EQ(route(datagram(100, 0x0B)), DatagramRoute::Video);
    EXPECT_EQ(route(datagram(100, 0xFB, 0xFF)), DatagramRoute::Video);  // all else set
    EXPECT_EQ(route(datagram(100, 0x04, 0xFF)), DatagramRoute::ScreenAudio);
}

}  // namespace

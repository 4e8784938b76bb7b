// The protocol vocabulary shared with the host application: permission bits,
// media flags and routing, and the byte layout of datagram headers.

#include <gtest/gtest.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <cstring>

#include "media_header.h"
#include "protocol.h"

namespace {

namespace P = talvek::Permission;

// In bit order; the host application numbers them the same way.
constexpr std::array<uint64_t, 42> kAllPermissions = {
    P::SEND_TEXT,         P::SEND_MEDIA,         P::VOICE_CONNECT,       P::VOICE_SPEAK,
    P::CREATE_CHANNEL,    P::DELETE_CHANNEL,     P::DELETE_MESSAGES,     P::MOVE_USERS,
    P::MANAGE_CHANNELS,   P::MUTE_USERS,         P::MANAGE_ROLES,        P::MANAGE_EMOJIS,
    P::SEND_FILES,        P::MANAGE_SOUNDBOARD,  P::CREATE_THREAD,       P::MANAGE_THREADS,
    P::ADD_REACTIONS,     P::MENTION_EVERYONE,   P::EMBED_LINKS,         P::READ_MESSAGE_HISTORY,
    P::MANAGE_MESSAGES,   P::VOICE_VIDEO,        P::DEAFEN_USERS,        P::PRIORITY_SPEAKER,
    P::MANAGE_SERVER,     P::VIEW_AUDIT_LOG,     P::BAN_USERS,           P::KICK_USERS,
    P::EDIT_MESSAGES,     P::CREATE_DM,          P::CHANGE_NICKNAME,     P::ADMINISTRATOR,
    P::PREVIEW_CHANNELS,  P::MANAGE_INVITES,     P::REMOVE_FROM_CHANNEL, P::PURGE_HISTORY,
    P::MANAGE_USER_STATUS, P::VIEW_CHANNELS,     P::VIEW_PROFILES,       P::PIN_MESSAGES,
    P::BYPASS_SLOWMODE,   P::MANAGE_GIFS,
};

// ---------------------------------------------------------------- permissions

TEST(PermissionFlags, AllFortyTwoFillTheLowBitsOneEach) {
    uint64_t all = 0;
    for (size_t i = 0; i < kAllPermissions.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kAllPermissions[i], uint64_t{1} << i);
        EXPECT_EQ(all & kAllPermissions[i], 0u) << "bit shared with an earlier flag";
        all |= kAllPermissions[i];
    }
    EXPECT_EQ(all, 0x3FFFFFFFFFFull);
}

TEST(PermissionFlags, ValuesTheHostApplicationChecksFor) {
    EXPECT_EQ(P::VOICE_SPEAK, 0x8u);
    EXPECT_EQ(P::ADMINISTRATOR, 0x80000000u);
    // Past bit 31: these are lost if anything narrows the mask to 32 bits.
    EXPECT_EQ(P::PREVIEW_CHANNELS, 0x100000000ull);
    EXPECT_EQ(P::MANAGE_GIFS, 0x20000000000ull);
}

TEST(DefaultEveryone, LetsMembersEditAndPinMessages) {
    EXPECT_NE(P::DEFAULT_EVERYONE & P::EDIT_MESSAGES, 0u);
    EXPECT_NE(P::DEFAULT_EVERYONE & P::PIN_MESSAGES, 0u);
}

TEST(DefaultEveryone, WithholdsAdministrationAndModeration) {
    struct Named {
        const char* name;
        uint64_t bit;
    };
    for (const Named& p : {Named{"ADMINISTRATOR", P::ADMINISTRATOR},
                           Named{"MANAGE_SERVER", P::MANAGE_SERVER},
                           Named{"MANAGE_ROLES", P::MANAGE_ROLES},
                           Named{"MANAGE_CHANNELS", P::MANAGE_CHANNELS},
                           Named{"BAN_USERS", P::BAN_USERS},
                           Named{"KICK_USERS", P::KICK_USERS},
                           Named{"DELETE_CHANNEL", P::DELETE_CHANNEL},
                           Named{"DELETE_MESSAGES", P::DELETE_MESSAGES}}) {
        EXPECT_EQ(P::DEFAULT_EVERYONE & p.bit, 0u) << p.name << " granted to everyone";
    }
}

TEST(DefaultEveryone, HoldsOnlyKnownPermissions) {
    EXPECT_EQ(P::DEFAULT_EVERYONE & ~0x3FFFFFFFFFFull, 0u);
    EXPECT_EQ(std::bitset<64>(P::DEFAULT_EVERYONE).count(), 18u);
}

// ---------------------------------------------------------------- routing

TEST(MediaFlags, AreSeparateBits) {
    const uint8_t flags[] = {talvek::VOICE_FLAG_SILENCE, talvek::VOICE_FLAG_VIDEO,
                             talvek::VOICE_FLAG_SCREEN_AUDIO, talvek::VOICE_FLAG_NACK};
    unsigned seen = 0;
    for (uint8_t f : flags) {
        EXPECT_EQ(std::bitset<8>(f).count(), 1u) << int{f};
        EXPECT_EQ(seen & f, 0u) << int{f};
        seen |= f;
    }
}

TEST(ScreenAudioRouting, OnlyTheScreenAudioBitDecides) {
    EXPECT_TRUE(talvek::is_screen_audio(0x04));
    EXPECT_TRUE(talvek::is_screen_audio(0x06));  // screen audio that also says video
    EXPECT_TRUE(talvek::is_screen_audio(0xFF));
    EXPECT_FALSE(talvek::is_screen_audio(0x02));  // video
    EXPECT_FALSE(talvek::is_screen_audio(0x00));
    EXPECT_FALSE(talvek::is_screen_audio(0xFB));  // every bit but screen audio
}

// ---------------------------------------------------------------- headers

// A video fragment as it arrives, with a different value in every byte of
// every field so a field read from the wrong offset cannot match.
constexpr std::array<uint8_t, 44> kFragmentDatagram = {
    // 0..19 sender: the host application's, 0xA0..0xB3
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9,
    0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3,
    0x04, 0x03, 0x02, 0x01,  // 20..23 sequence 0x01020304
    0x78, 0x05,              // 24..25 payload_length 0x0578 (1400)
    0x02,                    // 26     flags: VOICE_FLAG_VIDEO
    0x5A,                    // 27     reserved
    0x44, 0x33, 0x22, 0x11,  // 28..31 frame_id 0x11223344
    0x07, 0x00,              // 32..33 fragment_index 7
    0x0C, 0x00,              // 34..35 fragment_count 12
    0xE8, 0x03,              // 36..37 payload_size 1000
    0xCD, 0xAB,              // 38..39 padding 0xABCD
    0xDE, 0xAD, 0xBE, 0xEF,  // 40..   payload
};

TEST(MediaHeaderLayout, SequenceLiesLittleEndianAtOffset20) {
    talvek::MediaHeader header{};
    header.sequence = 0x01020304;
    header.payload_length = 0x0578;
    header.flags = talvek::VOICE_FLAG_SCREEN_AUDIO;

    std::array<uint8_t, talvek::MEDIA_HEADER_SIZE> bytes{};
    std::memcpy(bytes.data(), &header, sizeof header);
    EXPECT_EQ(bytes[20], 0x04);
    EXPECT_EQ(bytes[21], 0x03);
    EXPECT_EQ(bytes[22], 0x02);
    EXPECT_EQ(bytes[23], 0x01);
    EXPECT_EQ(bytes[24], 0x78);
    EXPECT_EQ(bytes[25], 0x05);
    EXPECT_EQ(bytes[26], 0x04);
    EXPECT_EQ(bytes[27], 0x00);
}

TEST(MediaHeaderLayout, ReadMediaHeaderTakesEachFieldFromItsOffset) {
    const talvek::MediaHeader header = talvek::read_media_header(kFragmentDatagram.data());
    for (size_t i = 0; i < sizeof header.sender; ++i) {
        EXPECT_EQ(header.sender[i], kFragmentDatagram[i]) << "sender byte " << i;
    }
    EXPECT_EQ(header.sequence, 0x01020304u);
    EXPECT_EQ(header.payload_length, 1400);
    EXPECT_EQ(header.flags, talvek::VOICE_FLAG_VIDEO);
    EXPECT_EQ(header.reserved, 0x5A);
    EXPECT_FALSE(talvek::is_screen_audio(header.flags));
}

TEST(MediaHeaderLayout, ReadFragmentHeaderTakesEachFieldFromItsOffset) {
    const talvek::FragmentHeader fragment = talvek::read_fragment_header(kFragmentDatagram.data());
    EXPECT_EQ(fragment.frame_id, 0x11223344u);
    EXPECT_EQ(fragment.fragment_index, 7);
    EXPECT_EQ(fragment.fragment_count, 12);
    EXPECT_EQ(fragment.payload_size, 1000);
    EXPECT_EQ(fragment.padding, 0xABCD);
    EXPECT_EQ(kFragmentDatagram[talvek::FRAGMENT_PAYLOAD_OFFSET], 0xDE);
}

// Datagrams sit wherever the receive buffer puts them; the readers copy, so
// an odd address must give the same fields.
TEST(MediaHeaderLayout, ReadersWorkOnUnalignedDatagrams) {
    alignas(8) std::array<uint8_t, kFragmentDatagram.size() + 1> shifted{};
    std::memcpy(shifted.data() + 1, kFragmentDatagram.data(), kFragmentDatagram.size());

    const talvek::MediaHeader header = talvek::read_media_header(shifted.data() + 1);
    EXPECT_EQ(header.sequence, 0x01020304u);
    EXPECT_EQ(header.payload_length, 1400);
    const talvek::FragmentHeader fragment = talvek::read_fragment_header(shifted.data() + 1);
    EXPECT_EQ(fragment.frame_id, 0x11223344u);
    EXPECT_EQ(fragment.payload_size, 1000);
}

}  // namespace

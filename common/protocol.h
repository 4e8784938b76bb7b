#pragma once
// Constants of the host application's chat protocol. The programs read only
// VOICE_FLAG_SCREEN_AUDIO, VIDEO_FRAGMENT_MAX_PAYLOAD and MEDIA_CHUNK_SIZE;
// the rest are kept beside them so both sides share one vocabulary.

#include <cstdint>

namespace talvek {

inline constexpr uint16_t TALVEK_PROTOCOL_VERSION = 3;
inline constexpr uint16_t PROTOCOL_VERSION_MASK = 0x00FF;
inline constexpr uint32_t MAX_PAYLOAD_SIZE = 0x01000000;  // 16 MiB
inline constexpr uint32_t MEDIA_CHUNK_SIZE = 65536;
inline constexpr uint16_t DEFAULT_TCP_PORT = 7770;
inline constexpr uint16_t DEFAULT_UDP_PORT = 7771;
inline constexpr uint32_t HEARTBEAT_INTERVAL_SEC = 15;
inline constexpr uint32_t HEARTBEAT_TIMEOUT_SEC = 45;

// Single bits of the media header's flags byte; they combine by OR.
inline constexpr uint8_t VOICE_FLAG_SILENCE = 0x01;
inline constexpr uint8_t VOICE_FLAG_VIDEO = 0x02;
inline constexpr uint8_t VOICE_FLAG_SCREEN_AUDIO = 0x04;
inline constexpr uint8_t VOICE_FLAG_NACK = 0x08;

// Largest video payload per fragment, and the stride of fragment slots in a
// frame buffer. Signed on purpose: offsets are computed as int and widened.
inline constexpr int32_t VIDEO_FRAGMENT_MAX_PAYLOAD = 1400;

inline constexpr uint64_t SERVER_CAP_PUSH_AVAILABLE = 1;

namespace Permission {

// Bit n of the list below is 1 << n; there are no gaps.
inline constexpr uint64_t SEND_TEXT = 1ull << 0;
inline constexpr uint64_t SEND_MEDIA = 1ull << 1;
inline constexpr uint64_t VOICE_CONNECT = 1ull << 2;
inline constexpr uint64_t VOICE_SPEAK = 1ull << 3;
inline constexpr uint64_t CREATE_CHANNEL = 1ull << 4;
inline constexpr uint64_t DELETE_CHANNEL = 1ull << 5;
inline constexpr uint64_t DELETE_MESSAGES = 1ull << 6;
inline constexpr uint64_t MOVE_USERS = 1ull << 7;
inline constexpr uint64_t MANAGE_CHANNELS = 1ull << 8;
inline constexpr uint64_t MUTE_USERS = 1ull << 9;
inline constexpr uint64_t MANAGE_ROLES = 1ull << 10;
inline constexpr uint64_t MANAGE_EMOJIS = 1ull << 11;
inline constexpr uint64_t SEND_FILES = 1ull << 12;
inline constexpr uint64_t MANAGE_SOUNDBOARD = 1ull << 13;
inline constexpr uint64_t CREATE_THREAD = 1ull << 14;
inline constexpr uint64_t MANAGE_THREADS = 1ull << 15;
inline constexpr uint64_t ADD_REACTIONS = 1ull << 16;
inline constexpr uint64_t MENTION_EVERYONE = 1ull << 17;
inline constexpr uint64_t EMBED_LINKS = 1ull << 18;
inline constexpr uint64_t READ_MESSAGE_HISTORY = 1ull << 19;
inline constexpr uint64_t MANAGE_MESSAGES = 1ull << 20;
inline constexpr uint64_t VOICE_VIDEO = 1ull << 21;
inline constexpr uint64_t DEAFEN_USERS = 1ull << 22;
inline constexpr uint64_t PRIORITY_SPEAKER = 1ull << 23;
inline constexpr uint64_t MANAGE_SERVER = 1ull << 24;
inline constexpr uint64_t VIEW_AUDIT_LOG = 1ull << 25;
inline constexpr uint64_t BAN_USERS = 1ull << 26;
inline constexpr uint64_t KICK_USERS = 1ull << 27;
inline constexpr uint64_t EDIT_MESSAGES = 1ull << 28;
inline constexpr uint64_t CREATE_DM = 1ull << 29;
inline constexpr uint64_t CHANGE_NICKNAME = 1ull << 30;
inline constexpr uint64_t ADMINISTRATOR = 1ull << 31;
inline constexpr uint64_t PREVIEW_CHANNELS = 1ull << 32;
inline constexpr uint64_t MANAGE_INVITES = 1ull << 33;
inline constexpr uint64_t REMOVE_FROM_CHANNEL = 1ull << 34;
inline constexpr uint64_t PURGE_HISTORY = 1ull << 35;
inline constexpr uint64_t MANAGE_USER_STATUS = 1ull << 36;
inline constexpr uint64_t VIEW_CHANNELS = 1ull << 37;
inline constexpr uint64_t VIEW_PROFILES = 1ull << 38;
inline constexpr uint64_t PIN_MESSAGES = 1ull << 39;
inline constexpr uint64_t BYPASS_SLOWMODE = 1ull << 40;
inline constexpr uint64_t MANAGE_GIFS = 1ull << 41;

inline constexpr uint64_t DEFAULT_EVERYONE =
    SEND_TEXT | SEND_MEDIA | VOICE_CONNECT | VOICE_SPEAK | CREATE_CHANNEL | SEND_FILES |
    CREATE_THREAD | ADD_REACTIONS | MENTION_EVERYONE | EMBED_LINKS | READ_MESSAGE_HISTORY |
    EDIT_MESSAGES | CREATE_DM | CHANGE_NICKNAME | PREVIEW_CHANNELS | VIEW_CHANNELS |
    VIEW_PROFILES | PIN_MESSAGES;

static_assert(DEFAULT_EVERYONE == 0xE1700F501Full);

}  // namespace Permission

}  // namespace talvek

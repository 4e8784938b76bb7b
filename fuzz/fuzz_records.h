#pragma once
// The byte formats the fuzz targets read, with the writer the seed generator
// uses, so both sides share one definition. All numbers are little-endian.
//
// Reassembly targets (video fragments, preview's raw fragments):
//
//   record  := kind:u8 body
//   kind%4 0,1  datagram:    length:u16, then length bytes (fewer at the end)
//   kind%4 2    clock step:  milliseconds:u16
//   kind%4 3    drain:       the decode thread takes the queue (video only)
//
// Decode target:   codec:u8 { flags:u8 length:u16 frame }...
// Screen audio:    volume:u8 [raw volume bits:u32] first sequence:u32
//                  { length:u16 packet }...   (see fuzz_screen_audio.cpp)
// Command lines:   NUL-separated arguments after the program name.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace talvek::fuzz {

enum class RecordKind : uint8_t {
    Datagram = 0,
    ClockStep = 2,
    Drain = 3,
};

inline RecordKind record_kind(uint8_t byte) {
    switch (byte % 4) {
    case 2: return RecordKind::ClockStep;
    case 3: return RecordKind::Drain;
    default: return RecordKind::Datagram;
    }
}

// Reads the fuzzer's bytes front to back; past the end every number is 0
// and every run of bytes is short, so any input is a valid one.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : next(data), left(size) {}

    bool empty() const { return left == 0; }
    size_t remaining() const { return left; }

    uint8_t u8() {
        uint8_t v = 0;
        take(&v, 1);
        return v;
    }
    uint16_t u16() {
        uint8_t b[2] = {};
        take(b, 2);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }
    uint32_t u32() {
        uint8_t b[4] = {};
        take(b, 4);
        return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    // A heap copy of exactly the bytes taken, so that ASan sees any read
    // beyond the length the code under test was given.
    std::vector<uint8_t> bytes(size_t count) {
        const size_t n = count < left ? count : left;
        std::vector<uint8_t> out(next, next + n);
        next += n;
        left -= n;
        return out;
    }

private:
    void take(uint8_t* out, size_t n) {
        const size_t got = n < left ? n : left;
        std::memcpy(out, next, got);
        next += got;
        left -= got;
    }

    const uint8_t* next;
    size_t left;
};

// The seed generator's side.
class InputWriter {
public:
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
    }
    void bytes(const std::vector<uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); }

    // Reassembly records. Datagrams longer than 65535 bytes cannot be told.
    void datagram(const std::vector<uint8_t>& d) {
        u8(static_cast<uint8_t>(RecordKind::Datagram));
        u16(static_cast<uint16_t>(d.size()));
        bytes(d);
    }
    void clock_step(uint16_t ms) {
        u8(static_cast<uint8_t>(RecordKind::ClockStep));
        u16(ms);
    }
    void drain() { u8(static_cast<uint8_t>(RecordKind::Drain)); }

    std::vector<uint8_t> out;
};

}  // namespace talvek::fuzz

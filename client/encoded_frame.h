#pragma once
// One complete, still compressed frame: a byte buffer that goes from the
// fragment table through the decode ring to the decoder and back again as a
// spare. Unlike std::vector it never clears what it grows by: a record is
// written fragment by fragment, and clearing it first would touch every page
// of a 1.4 MB frame twice.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>

namespace talvek::client {

class EncodedFrame {
public:
    using value_type = uint8_t;
    using const_iterator = const uint8_t*;
    using iterator = uint8_t*;

    EncodedFrame() = default;
    EncodedFrame(std::initializer_list<uint8_t> bytes) { assign(bytes.begin(), bytes.size()); }
    EncodedFrame(size_t count, uint8_t value) {
        resize(count);
        std::fill_n(buffer.get(), count, value);
    }
    explicit EncodedFrame(std::span<const uint8_t> bytes) { assign(bytes.data(), bytes.size()); }

    EncodedFrame(const EncodedFrame& other) { assign(other.data(), other.size()); }
    EncodedFrame& operator=(const EncodedFrame& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    EncodedFrame(EncodedFrame&& other) noexcept { swap(other); }
    EncodedFrame& operator=(EncodedFrame&& other) noexcept {
        EncodedFrame(std::move(other)).swap(*this);
        return *this;
    }

    uint8_t* data() { return buffer.get(); }
    const uint8_t* data() const { return buffer.get(); }
    size_t size() const { return length; }
    size_t capacity() const { return allocated; }
    bool empty() const { return length == 0; }
    uint8_t* begin() { return data(); }
    uint8_t* end() { return data() + length; }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + length; }
    uint8_t& operator[](size_t i) { return buffer[i]; }
    uint8_t operator[](size_t i) const { return buffer[i]; }
    operator std::span<const uint8_t>() const { return {data(), length}; }

    // Within the capacity the bytes stay where they are; growing beyond it
    // takes a buffer of exactly `bytes` and keeps nothing: every byte is
    // then unset until written.
    void resize(size_t bytes) {
        if (bytes > allocated) {
            buffer = std::make_unique_for_overwrite<uint8_t[]>(bytes);
            allocated = bytes;
        }
        length = bytes;
    }
    void clear() { length = 0; }
    void swap(EncodedFrame& other) noexcept {
        std::swap(buffer, other.buffer);
        std::swap(length, other.length);
        std::swap(allocated, other.allocated);
    }

    friend bool operator==(const EncodedFrame& a, const EncodedFrame& b) {
        return a.length == b.length && (a.length == 0 || std::memcmp(a.data(), b.data(), a.length) == 0);
    }

private:
    void assign(const uint8_t* bytes, size_t count) {
        length = 0;
        resize(count);
        if (count > 0) std::memcpy(buffer.get(), bytes, count);
    }

    std::unique_ptr<uint8_t[]> buffer;
    size_t length = 0;
    size_t allocated = 0;
};

}  // namespace talvek::client

// A bounded cursor over bytes held in memory. Every read either delivers all
// it was asked for or reports failure and leaves the cursor where it was, so
// a truncated file can never turn into zero-filled or out-of-bounds data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quolb {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t position() const { return position_; }

    bool seek(std::size_t position) {
        if (position > bytes_.size()) return false;
        position_ = position;
        return true;
    }
    bool skip(std::size_t count) {
        if (count > remaining()) return false;
        position_ += count;
        return true;
    }
    bool readU8(std::uint8_t& value) {
        if (remaining() < 1) return false;
        value = bytes_[position_++];
        return true;
    }
    bool readU16(std::uint16_t& value) {
        if (remaining() < 2) return false;
        value = static_cast<std::uint16_t>(bytes_[position_] | bytes_[position_ + 1] << 8);
        position_ += 2;
        return true;
    }
    bool readU32(std::uint32_t& value) {
        if (remaining() < 4) return false;
        value = loadU32(bytes_.data() + position_);
        position_ += 4;
        return true;
    }
    bool readI32(std::int32_t& value) {
        std::uint32_t raw = 0;
        if (!readU32(raw)) return false;
        value = static_cast<std::int32_t>(raw);
        return true;
    }
    // A view of the next `count` bytes, consumed.
    bool take(std::size_t count, std::span<const std::uint8_t>& out) {
        if (count > remaining()) return false;
        out = bytes_.subspan(position_, count);
        position_ += count;
        return true;
    }

    static std::uint32_t loadU32(const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

private:
    std::size_t remaining() const { return bytes_.size() - position_; }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

inline void storeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace quolb

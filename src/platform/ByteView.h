#pragma once

// The one way the program reads on-disk structures: a bounds-checked view of
// bytes with typed big- and little-endian readers. Media are damaged or
// hostile as often as not, so a read that would reach past the end does not
// fault and does not throw: it answers 0 (or an empty view or string), the
// same thing a zeroed sector buffer would have given. Structures are never
// cast onto a buffer; every field is read through this view at its offset.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) noexcept
        : data_(data), size_(data != nullptr ? size : 0) {}
    constexpr ByteView(std::span<const std::uint8_t> bytes) noexcept : ByteView(bytes.data(), bytes.size()) {}
    ByteView(const std::vector<std::uint8_t>& bytes) noexcept : ByteView(bytes.data(), bytes.size()) {}

    constexpr const std::uint8_t* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }

    // Whether [offset, offset + length) lies inside the view. Written so that
    // no sum can wrap, whatever a medium claims.
    constexpr bool has(std::size_t offset, std::size_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }

    // The part [offset, offset + length), cut at the end of the view; empty
    // when offset lies past the end.
    constexpr ByteView sub(std::size_t offset, std::size_t length) const noexcept {
        if (offset >= size_) return {};
        const std::size_t left = size_ - offset;
        return ByteView(data_ + offset, length < left ? length : left);
    }
    // Everything from offset on.
    constexpr ByteView sub(std::size_t offset) const noexcept {
        return offset >= size_ ? ByteView() : ByteView(data_ + offset, size_ - offset);
    }

    // Whether the bytes at offset spell text; false where the view ends first.
    bool spells(std::size_t offset, std::string_view text) const noexcept {
        return has(offset, text.size()) &&
               std::equal(text.begin(), text.end(), data_ + offset,
                          [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
    }

    std::uint8_t u8(std::size_t off) const noexcept { return off < size_ ? data_[off] : 0; }
    std::int8_t s8(std::size_t off) const noexcept { return static_cast<std::int8_t>(u8(off)); }

    std::uint16_t be16(std::size_t off) const noexcept { return fromBig(load<std::uint16_t>(off)); }
    std::uint32_t be32(std::size_t off) const noexcept { return fromBig(load<std::uint32_t>(off)); }
    std::uint64_t be64(std::size_t off) const noexcept { return fromBig(load<std::uint64_t>(off)); }
    std::uint16_t le16(std::size_t off) const noexcept { return fromLittle(load<std::uint16_t>(off)); }
    std::uint32_t le32(std::size_t off) const noexcept { return fromLittle(load<std::uint32_t>(off)); }
    std::uint64_t le64(std::size_t off) const noexcept { return fromLittle(load<std::uint64_t>(off)); }

    std::int16_t bes16(std::size_t off) const noexcept { return static_cast<std::int16_t>(be16(off)); }
    std::int32_t bes32(std::size_t off) const noexcept { return static_cast<std::int32_t>(be32(off)); }
    std::int16_t les16(std::size_t off) const noexcept { return static_cast<std::int16_t>(le16(off)); }
    std::int32_t les32(std::size_t off) const noexcept { return static_cast<std::int32_t>(le32(off)); }

    // Up to `units` UTF-16 code units starting at off, big- or little-endian
    // on disk, in host order. Only whole units inside the view are taken, so
    // a name cut off by the end of a buffer comes back shorter, never padded
    // with bytes from beyond it.
    std::u16string utf16be(std::size_t off, std::size_t units) const { return utf16(off, units, true); }
    std::u16string utf16le(std::size_t off, std::size_t units) const { return utf16(off, units, false); }

    // Copies up to n bytes from off into out and zero-fills the rest of the n,
    // for fields kept as raw bytes (names, Finder information).
    void copyTo(std::size_t off, std::uint8_t* out, std::size_t n) const noexcept {
        const ByteView part = sub(off, n);
        if (!part.empty()) std::memcpy(out, part.data(), part.size());
        if (part.size() < n) std::memset(out + part.size(), 0, n - part.size());
    }

private:
    template <class T> T load(std::size_t off) const noexcept {
        T v = 0;
        if (has(off, sizeof(T))) std::memcpy(&v, data_ + off, sizeof(T));
        return v;
    }
    template <class T> static constexpr T swap(T v) noexcept {
        if constexpr (sizeof(T) == 2)
            return static_cast<T>(__builtin_bswap16(v));
        else if constexpr (sizeof(T) == 4)
            return static_cast<T>(__builtin_bswap32(v));
        else
            return static_cast<T>(__builtin_bswap64(v));
    }
    template <class T> static constexpr T fromBig(T v) noexcept {
        if constexpr (std::endian::native == std::endian::big)
            return v;
        else
            return swap(v);
    }
    template <class T> static constexpr T fromLittle(T v) noexcept {
        if constexpr (std::endian::native == std::endian::little)
            return v;
        else
            return swap(v);
    }

    std::u16string utf16(std::size_t off, std::size_t units, bool big) const {
        const ByteView part = sub(off);
        const std::size_t have = part.size() / 2;
        const std::size_t n = units < have ? units : have;
        std::u16string out(n, u'\0');
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<char16_t>(big ? part.be16(2 * i) : part.le16(2 * i));
        return out;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace platform

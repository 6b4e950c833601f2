#pragma once

// 64-bit arithmetic on numbers read from the media. Sector numbers, block
// counts and sizes all come from structures that may be damaged or hostile,
// so every product and sum of them is either checked (nothing when it does
// not fit) or saturated (pinned at the largest value, which every bound
// compared against it then rejects).

#include <cstdint>
#include <limits>
#include <optional>

namespace platform {

// a + b, or nothing when the sum does not fit 64 bits.
inline std::optional<std::uint64_t> checkedAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

// a x b, or nothing when the product does not fit 64 bits.
inline std::optional<std::uint64_t> checkedMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

// base + a x b, or nothing when either step does not fit 64 bits.
inline std::optional<std::uint64_t> checkedMulAdd(std::uint64_t base, std::uint64_t a, std::uint64_t b) {
    const auto product = checkedMul(a, b);
    return product ? checkedAdd(base, *product) : std::nullopt;
}

// a + b, or the largest 64-bit value when the sum does not fit.
inline std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return checkedAdd(a, b).value_or(std::numeric_limits<std::uint64_t>::max());
}

// a x b, or the largest 64-bit value when the product does not fit.
inline std::uint64_t saturatingMul(std::uint64_t a, std::uint64_t b) {
    return checkedMul(a, b).value_or(std::numeric_limits<std::uint64_t>::max());
}

// base + a x b, or the largest 64-bit value when either step overflows.
inline std::uint64_t saturatingMulAdd(std::uint64_t base, std::uint64_t a, std::uint64_t b) {
    return checkedMulAdd(base, a, b).value_or(std::numeric_limits<std::uint64_t>::max());
}

} // namespace platform

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace veltrano {

// memcpy for the short copies of a loop that runs once per hit (names, mostly under 32 bytes).
// Done inline, in moves of fixed size that overlap where the length is not a multiple of
// theirs: the call into the C library and its choice of routine cost more than such a copy.
// Reads and writes no byte outside the n given; the ranges must not overlap.
inline void copyShort(void *to, const void *from, size_t n)
{
    auto *out = static_cast<unsigned char *>(to);
    const auto *in = static_cast<const unsigned char *>(from);
    const auto move = [&]<size_t Width>(size_t at) {
        unsigned char block[Width];
        std::memcpy(block, in + at, Width);
        std::memcpy(out + at, block, Width);
    };
    if (n > 64) {
        std::memcpy(out, in, n);
    } else if (n >= 16) {
        for (size_t at = 0; at + 16 < n; at += 16)
            move.template operator()<16>(at);
        move.template operator()<16>(n - 16);
    } else if (n >= 8) {
        move.template operator()<8>(0);
        move.template operator()<8>(n - 8);
    } else if (n >= 4) {
        move.template operator()<4>(0);
        move.template operator()<4>(n - 4);
    } else if (n >= 2) {
        move.template operator()<2>(0);
        move.template operator()<2>(n - 2);
    } else if (n == 1) {
        *out = *in;
    }
}

} // namespace veltrano

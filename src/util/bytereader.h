#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace veltrano {

// Little-endian readers over untrusted bytes. Callers check the bounds first; these never
// reinterpret file bytes as structs, so alignment and padding cannot bite.
inline uint16_t readU16le(const unsigned char *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t readU32le(const unsigned char *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline int32_t readI32le(const unsigned char *p)
{
    return int32_t(readU32le(p));
}

inline uint64_t readU64le(const unsigned char *p)
{
    return uint64_t(readU32le(p)) | (uint64_t(readU32le(p + 4)) << 32);
}

inline double readDoubleLe(const unsigned char *p)
{
    const uint64_t bits = readU64le(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The text of a fixed-width field: the bytes up to the first NUL, or the whole width when
// the field holds none.
inline std::string_view readText(const unsigned char *p, size_t width)
{
    const void *nul = std::memchr(p, 0, width);
    const size_t length = nul ? size_t(static_cast<const unsigned char *>(nul) - p) : width;
    return {reinterpret_cast<const char *>(p), length};
}

inline void writeU16le(unsigned char *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void writeU32le(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

inline void writeDoubleLe(unsigned char *p, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeU32le(p, uint32_t(bits));
    writeU32le(p + 4, uint32_t(bits >> 32));
}

// Copies text into a fixed-width NUL-terminated field, cutting it to width - 1 bytes.
inline void writeText(unsigned char *p, size_t width, std::string_view text)
{
    const size_t n = text.size() < width ? text.size() : width - 1;
    std::memcpy(p, text.data(), n);
    std::memset(p + n, 0, width - n);
}

} // namespace veltrano

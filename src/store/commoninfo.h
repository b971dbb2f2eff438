#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace veltrano {

// The suite's common record, shared with the other programs of the suite through the file
// COMMON.INI in the current folder. Despite its name the file is a 16-byte binary record,
// little-endian:
//
//   offset width  field
//        0 u32    Version (102)
//        4 u32    reserved: another program's; kept as read and written back
//        8 u32    EchoTimeout, milliseconds of one echo request
//       12 byte   OsCode, the operating-system code taken when the defaults were made
//       13 3 bytes reserved
struct TCommonInfo
{
    uint32_t Version = 0;
    uint32_t Reserved = 0;
    uint32_t EchoTimeout = 0;
    uint8_t OsCode = 0;
    std::array<uint8_t, 3> Reserved2 {};

    bool operator==(const TCommonInfo &) const = default;
};

constexpr size_t kCommonInfoSize = 16;
constexpr uint32_t kCommonInfoVersion = 102;
constexpr const char *kCommonInfoName = "COMMON.INI";

// Version 102, the reserved word 0, an echo time-out of 250 ms and the given operating-system
// code (GetOSType's; 0 on Linux). The trailing reserved bytes are left as they are.
void DefaultCommonInfo(TCommonInfo &record, uint8_t osCode);
// The same with the code that GetOSType gives.
void DefaultCommonInfo(TCommonInfo &record);

// Reads the record. A missing or unreadable file, or one whose first word is not 102, gives
// the defaults (with osCode); a shorter file fills only the bytes it has. True when all 16
// bytes were read.
bool LoadCommonInfo(TCommonInfo &record, uint8_t osCode,
                    const std::filesystem::path &path = kCommonInfoName);
// The same, with GetOSType's code for the defaults.
bool LoadCommonInfo(TCommonInfo &record, const std::filesystem::path &path = kCommonInfoName);

// Replaces the file with the record, safely (a failed write leaves the old file). False on
// failure, with the reason in *failure (UTF-8) when given.
bool SaveCommonInfo(const TCommonInfo &record,
                    const std::filesystem::path &path = kCommonInfoName,
                    std::string *failure = nullptr);

std::array<unsigned char, kCommonInfoSize> encodeCommonInfo(const TCommonInfo &record);
// Lays `bytes` over the record; fields the bytes do not reach keep their values.
void decodeCommonInfo(std::string_view bytes, TCommonInfo &record);

} // namespace veltrano

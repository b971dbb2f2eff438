#include "store/commoninfo.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "util/filebytes.h"
#include "util/bytereader.h"
#include "util/error.h"
#include "util/sysinfo.h"

namespace veltrano {

void DefaultCommonInfo(TCommonInfo &record, uint8_t osCode)
{
    record.Version = kCommonInfoVersion;
    record.Reserved = 0;
    record.EchoTimeout = 250;
    record.OsCode = osCode;
}

void DefaultCommonInfo(TCommonInfo &record)
{
    uint8_t osCode = 0;
    GetOSType(osCode);
    DefaultCommonInfo(record, osCode);
}

std::array<unsigned char, kCommonInfoSize> encodeCommonInfo(const TCommonInfo &record)
{
    std::array<unsigned char, kCommonInfoSize> bytes {};
    writeU32le(bytes.data(), record.Version);
    writeU32le(bytes.data() + 4, record.Reserved);
    writeU32le(bytes.data() + 8, record.EchoTimeout);
    bytes[12] = record.OsCode;
    std::memcpy(bytes.data() + 13, record.Reserved2.data(), record.Reserved2.size());
    return bytes;
}

void decodeCommonInfo(std::string_view bytes, TCommonInfo &record)
{
    std::array<unsigned char, kCommonInfoSize> merged = encodeCommonInfo(record);
    std::memcpy(merged.data(), bytes.data(), std::min(bytes.size(), merged.size()));
    record.Version = readU32le(merged.data());
    record.Reserved = readU32le(merged.data() + 4);
    record.EchoTimeout = readU32le(merged.data() + 8);
    record.OsCode = merged[12];
    std::memcpy(record.Reserved2.data(), merged.data() + 13, record.Reserved2.size());
}

bool LoadCommonInfo(TCommonInfo &record, uint8_t osCode, const std::filesystem::path &path)
{
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(path, kCommonInfoSize);
    } catch (const Error &) {
        // Unreadable counts as missing: the suite's defaults apply.
    }
    if (bytes && bytes->size() >= 4
        && readU32le(reinterpret_cast<const unsigned char *>(bytes->data())) == kCommonInfoVersion) {
        decodeCommonInfo(*bytes, record);
        return bytes->size() == kCommonInfoSize;
    }
    DefaultCommonInfo(record, osCode);
    return false;
}

bool LoadCommonInfo(TCommonInfo &record, const std::filesystem::path &path)
{
    uint8_t osCode = 0;
    GetOSType(osCode);
    return LoadCommonInfo(record, osCode, path);
}

bool SaveCommonInfo(const TCommonInfo &record, const std::filesystem::path &path,
                    std::string *failure)
{
    const std::array<unsigned char, kCommonInfoSize> bytes = encodeCommonInfo(record);
    try {
        writeFileAtomically(path, {reinterpret_cast<const char *>(bytes.data()), bytes.size()});
        return true;
    } catch (const Error &e) {
        if (failure)
            *failure = e.what();
        return false;
    }
}

} // namespace veltrano

#include "store/setupinfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "util/filebytes.h"
#include "util/bytereader.h"
#include "util/datetime.h"
#include "util/error.h"
#include "util/programfolder.h"

namespace veltrano {

namespace {

constexpr size_t kTextWidth = 128;

// Field offsets of the file record.
enum SetupOffset : size_t {
    kOffVersion = 0,
    kOffFontName = 4,
    kOffFontSize = 132,
    kOffOnlyFolderName = 136,
    kOffClearBeforeFind = 137,
    kOffHitNoFind = 138,
    kOffHitExclusive = 139,
    kOffOnlyShowFolder = 140,
    kOffHitNum = 141,
    kOffSearchAsYouType = 142,
    kOffReserved1 = 143,
    kOffHitNumValue = 144,
    kOffOnlineShow = 148,
    kOffViewStyle = 149,
    kOffReserved2 = 150,
    kOffSource = 152,
    kOffRemoteHost = 156,
    kOffRemoteUser = 284,
    kOffRemotePassword = 412,
    kOffRemotePort = 540,
    kOffPassiveMode = 544,
    kOffReserved3 = 545,
    kOffDownloadFolder = 548,
    kOffTryCount = 676,
    kOffTryInterval = 680,
    kOffProgramFolder = 688,
};
static_assert(kOffProgramFolder + kTextWidth == kSetupInfoSize);

// The longest prefix of text of at most `limit` bytes that ends on a character boundary.
std::string_view cutText(std::string_view text, const CodePage &codePage, size_t limit)
{
    if (text.size() <= limit)
        return text;
    size_t end = 0;
    while (end < text.size()) {
        const size_t next = end + codePage.charLength(text.data() + end, text.data() + text.size());
        if (next > limit)
            break;
        end = next;
    }
    return text.substr(0, end);
}

void putText(unsigned char *p, std::string_view text, const CodePage &codePage)
{
    writeText(p, kTextWidth, cutText(text, codePage, kTextWidth - 1));
}

std::string getText(const unsigned char *p, const CodePage &codePage)
{
    return std::string(cutText(readText(p, kTextWidth), codePage, kTextWidth - 1));
}

template<size_t N>
void putBytes(unsigned char *p, const std::array<uint8_t, N> &bytes)
{
    std::memcpy(p, bytes.data(), N);
}

template<size_t N>
void getBytes(const unsigned char *p, std::array<uint8_t, N> &bytes)
{
    std::memcpy(bytes.data(), p, N);
}

std::string homeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "/";
}

// XDG_DOWNLOAD_DIR="$HOME/Downloads" (or an absolute path) from the user-dirs file.
std::string xdgDownloadDir(const std::string &home)
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path configHome = config && *config == '/'
        ? std::filesystem::path(config) : std::filesystem::path(home) / ".config";
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(configHome / "user-dirs.dirs", 64 * 1024);
    } catch (const Error &) {
        return {};
    }
    if (!bytes)
        return {};

    constexpr std::string_view key = "XDG_DOWNLOAD_DIR=";
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\n', start);
        if (end == std::string::npos)
            end = bytes->size();
        std::string_view line(bytes->data() + start, end - start);
        start = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.starts_with(key))
            continue;
        line.remove_prefix(key.size());
        if (line.size() < 2 || line.front() != '"' || line.find('"', 1) == std::string_view::npos)
            continue;
        line = line.substr(1, line.find('"', 1) - 1);
        if (line.starts_with("$HOME"))
            return home + std::string(line.substr(5));
        if (line.starts_with('/'))
            return std::string(line);
    }
    return {};
}

} // namespace

std::string userDownloadFolder()
{
    const std::string home = homeFolder();
    std::string folder = xdgDownloadDir(home);
    if (folder.empty())
        folder = (std::filesystem::path(home) / "Downloads").string();
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

SetupEnvironment SetupEnvironment::current()
{
    SetupEnvironment environment {CodePage::programDefault(), {}, {}};
    environment.programFolder = environment.codePage.fromUtf8Lossy(veltrano::programFolder());
    environment.downloadFolder = environment.codePage.fromUtf8Lossy(userDownloadFolder());
    return environment;
}

void copyText(std::string &field, std::string_view text, const CodePage &codePage, size_t limit)
{
    field.assign(cutText(text, codePage, limit));
}

void DefaultSetupInfo(TSetupInfo &record, const SetupEnvironment &environment)
{
    const CodePage &codePage = environment.codePage;
    record.Version = kSetupInfoVersion;
    copyText(record.FontName, "MS Sans Serif", codePage);
    record.FontSize = 10;
    record.OnlyFolderName = 0;
    record.ClearBeforeFind = 1;
    record.HitNoFind = 0;
    record.HitExclusive = 0;
    record.OnlyShowFolder = 0;
    record.HitNum = 0;
    record.SearchAsYouType = 0;
    record.HitNumValue = 100;
    record.OnlineShow = 1;
    record.ViewStyle = kViewStyleDetails;
    record.Source = kSourceLocal;
    record.RemoteHost.clear();
    record.RemoteUser.clear();
    record.RemotePassword.clear();
    record.RemotePort = 21;
    record.PassiveMode = 0;
    copyText(record.DownloadFolder, environment.downloadFolder, codePage);
    record.TryCount = 3;
    record.TryInterval = *encodeTime(0, 0, 3);
    copyText(record.ProgramFolder, environment.programFolder, codePage);
}

std::array<unsigned char, kSetupInfoSize> encodeSetupInfo(const TSetupInfo &record,
                                                          const CodePage &codePage)
{
    std::array<unsigned char, kSetupInfoSize> bytes {};
    unsigned char *p = bytes.data();
    writeU32le(p + kOffVersion, record.Version);
    putText(p + kOffFontName, record.FontName, codePage);
    writeU32le(p + kOffFontSize, uint32_t(record.FontSize));
    p[kOffOnlyFolderName] = record.OnlyFolderName;
    p[kOffClearBeforeFind] = record.ClearBeforeFind;
    p[kOffHitNoFind] = record.HitNoFind;
    p[kOffHitExclusive] = record.HitExclusive;
    p[kOffOnlyShowFolder] = record.OnlyShowFolder;
    p[kOffHitNum] = record.HitNum;
    p[kOffSearchAsYouType] = record.SearchAsYouType;
    putBytes(p + kOffReserved1, record.Reserved1);
    writeU32le(p + kOffHitNumValue, uint32_t(record.HitNumValue));
    p[kOffOnlineShow] = record.OnlineShow;
    p[kOffViewStyle] = record.ViewStyle;
    putBytes(p + kOffReserved2, record.Reserved2);
    writeU32le(p + kOffSource, uint32_t(record.Source));
    putText(p + kOffRemoteHost, record.RemoteHost, codePage);
    putText(p + kOffRemoteUser, record.RemoteUser, codePage);
    putText(p + kOffRemotePassword, record.RemotePassword, codePage);
    writeU32le(p + kOffRemotePort, uint32_t(record.RemotePort));
    p[kOffPassiveMode] = record.PassiveMode;
    putBytes(p + kOffReserved3, record.Reserved3);
    putText(p + kOffDownloadFolder, record.DownloadFolder, codePage);
    writeU32le(p + kOffTryCount, uint32_t(record.TryCount));
    writeDoubleLe(p + kOffTryInterval, record.TryInterval);
    putText(p + kOffProgramFolder, record.ProgramFolder, codePage);
    return bytes;
}

void decodeSetupInfo(std::string_view bytes, TSetupInfo &record, const CodePage &codePage)
{
    // Laying the file's bytes over the record's own keeps every field the file is too short
    // to reach.
    std::array<unsigned char, kSetupInfoSize> merged = encodeSetupInfo(record, codePage);
    std::memcpy(merged.data(), bytes.data(), std::min(bytes.size(), merged.size()));
    const unsigned char *p = merged.data();
    record.Version = readU32le(p + kOffVersion);
    record.FontName = getText(p + kOffFontName, codePage);
    record.FontSize = readI32le(p + kOffFontSize);
    record.OnlyFolderName = p[kOffOnlyFolderName];
    record.ClearBeforeFind = p[kOffClearBeforeFind];
    record.HitNoFind = p[kOffHitNoFind];
    record.HitExclusive = p[kOffHitExclusive];
    record.OnlyShowFolder = p[kOffOnlyShowFolder];
    record.HitNum = p[kOffHitNum];
    record.SearchAsYouType = p[kOffSearchAsYouType];
    getBytes(p + kOffReserved1, record.Reserved1);
    record.HitNumValue = readI32le(p + kOffHitNumValue);
    record.OnlineShow = p[kOffOnlineShow];
    record.ViewStyle = p[kOffViewStyle];
    getBytes(p + kOffReserved2, record.Reserved2);
    record.Source = readI32le(p + kOffSource);
    record.RemoteHost = getText(p + kOffRemoteHost, codePage);
    record.RemoteUser = getText(p + kOffRemoteUser, codePage);
    record.RemotePassword = getText(p + kOffRemotePassword, codePage);
    record.RemotePort = readI32le(p + kOffRemotePort);
    record.PassiveMode = p[kOffPassiveMode];
    getBytes(p + kOffReserved3, record.Reserved3);
    record.DownloadFolder = getText(p + kOffDownloadFolder, codePage);
    record.TryCount = readI32le(p + kOffTryCount);
    record.TryInterval = readDoubleLe(p + kOffTryInterval);
    record.ProgramFolder = getText(p + kOffProgramFolder, codePage);
}

bool LoadSetupInfo(const std::filesystem::path &path, TSetupInfo &record,
                   const SetupEnvironment &environment)
{
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(path, kSetupInfoSize);
    } catch (const Error &) {
        // An unreadable settings file is treated as a missing one: the program starts on
        // its defaults.
    }
    bool whole = false;
    if (bytes && bytes->size() >= 4
        && readU32le(reinterpret_cast<const unsigned char *>(bytes->data())) == kSetupInfoVersion) {
        decodeSetupInfo(*bytes, record, environment.codePage);
        whole = bytes->size() == kSetupInfoSize;
    } else {
        DefaultSetupInfo(record, environment);
    }
    copyText(record.ProgramFolder, environment.programFolder, environment.codePage);
    return whole;
}

bool SaveSetupInfo(const std::filesystem::path &path, const TSetupInfo &record,
                   const CodePage &codePage, std::string *failure)
{
    const std::array<unsigned char, kSetupInfoSize> bytes = encodeSetupInfo(record, codePage);
    try {
        writeFileAtomically(path, {reinterpret_cast<const char *>(bytes.data()), bytes.size()},
                            0600);
        return true;
    } catch (const Error &e) {
        if (failure)
            *failure = e.what();
        return false;
    }
}

} // namespace veltrano

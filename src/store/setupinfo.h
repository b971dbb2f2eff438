#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace veltrano {

// The program's settings record. One process-wide instance is read from Veltrano.inf in the
// program folder before the main window exists and written back after it has closed; in
// between the option handlers, the font dialog, the proxy dialog, the download hand-off and
// the transfer window read and write its fields directly.
//
// The file is the record's 816 bytes, little-endian, with fixed-width NUL-terminated texts in
// the program's code page (so a file written on Windows reads as it was meant):
//
//   offset width     field            offset width     field
//        0 u32       Version (200)       156 char[128] RemoteHost
//        4 char[128] FontName            284 char[128] RemoteUser
//      132 i32       FontSize            412 char[128] RemotePassword
//      136 byte      OnlyFolderName      540 i32       RemotePort
//      137 byte      ClearBeforeFind     544 byte      PassiveMode
//      138 byte      HitNoFind           545 3 bytes   reserved
//      139 byte      HitExclusive        548 char[128] DownloadFolder
//      140 byte      OnlyShowFolder      676 i32       TryCount
//      141 byte      HitNum              680 f64       TryInterval (day fraction)
//      142 byte      SearchAsYouType     688 char[128] ProgramFolder
//      143 byte      reserved
//      144 i32       HitNumValue
//      148 byte      OnlineShow
//      149 byte      ViewStyle (2 list, 3 details)
//      150 2 bytes   reserved
//      152 i32       Source (0 local cache, 1 remote search server)
//
// The record here is plain data; its texts are code-page bytes of at most 127 bytes (126 for
// the password). Assign them through copyText so that a cut never splits a character; the
// file writer applies the same limits to whatever a field holds. Reserved bytes are kept as
// read and written back.
struct TSetupInfo
{
    uint32_t Version = 0;
    std::string FontName;
    int32_t FontSize = 0;
    uint8_t OnlyFolderName = 0;
    uint8_t ClearBeforeFind = 0;
    uint8_t HitNoFind = 0;
    uint8_t HitExclusive = 0;
    uint8_t OnlyShowFolder = 0;
    uint8_t HitNum = 0;
    // Results follow the key box while the user types (0/1). Lives in what older versions left
    // as a reserved zero byte, so their files read as "off" and they read ours unchanged.
    uint8_t SearchAsYouType = 0;
    std::array<uint8_t, 1> Reserved1 {};
    int32_t HitNumValue = 0;
    uint8_t OnlineShow = 0;
    uint8_t ViewStyle = 0;
    std::array<uint8_t, 2> Reserved2 {};
    int32_t Source = 0;
    std::string RemoteHost;
    std::string RemoteUser;
    std::string RemotePassword;
    int32_t RemotePort = 0;
    uint8_t PassiveMode = 0;
    std::array<uint8_t, 3> Reserved3 {};
    std::string DownloadFolder;
    int32_t TryCount = 0;
    double TryInterval = 0;
    std::string ProgramFolder;

    bool operator==(const TSetupInfo &) const = default;
};

constexpr size_t kSetupInfoSize = 816;
constexpr uint32_t kSetupInfoVersion = 200;
constexpr const char *kSetupInfoName = "Veltrano.inf";
// The longest text a field takes, in bytes; the password leaves one more byte free.
constexpr size_t kSetupTextLimit = 127;
constexpr size_t kPasswordLimit = 126;
// Values of ViewStyle and Source.
constexpr uint8_t kViewStyleList = 2;
constexpr uint8_t kViewStyleDetails = 3;
constexpr int32_t kSourceLocal = 0;
constexpr int32_t kSourceRemote = 1;

// What the settings take from the running program. Tests build their own.
struct SetupEnvironment
{
    CodePage codePage;          // of the texts in the record and the file
    std::string programFolder;  // code-page bytes, ending with '/'
    std::string downloadFolder; // code-page bytes, ending with '/'

    // The program's own: the program folder, the user's download folder, the program's code
    // page. Paths that the code page cannot spell are replaced character by character.
    static SetupEnvironment current();
};

// The user's download folder as the desktop names it (XDG_DOWNLOAD_DIR of the XDG user-dirs
// file, else ~/Downloads), a native path ending with '/'.
std::string userDownloadFolder();

// Copies text into a field, cut to at most `limit` bytes without splitting a character.
void copyText(std::string &field, std::string_view text, const CodePage &codePage,
              size_t limit = kSetupTextLimit);

// Writes the defaults: font "MS Sans Serif" 10, clear before searching and the hover display
// on, HitNumValue 100, the details view, port 21, three attempts three seconds apart, the
// user's download folder and the program folder. Reserved bytes are left as they are.
void DefaultSetupInfo(TSetupInfo &record, const SetupEnvironment &environment);

// Reads the record from `path`. A file that cannot be opened or read, or whose first word is
// not 200, gives the defaults; a file that starts with 200 but is shorter than the record
// fills only the bytes it has, the rest keep what the record held. Either way the record's
// ProgramFolder becomes the current program folder. True when the whole record was read.
bool LoadSetupInfo(const std::filesystem::path &path, TSetupInfo &record,
                   const SetupEnvironment &environment);

// Replaces the file at `path` with the record (mode 0600: it holds the password), safely: a
// failed write leaves the old file in place. False on failure, with the reason in *failure
// (UTF-8) when given.
bool SaveSetupInfo(const std::filesystem::path &path, const TSetupInfo &record,
                   const CodePage &codePage, std::string *failure = nullptr);

// The record's file bytes, and the record that file bytes give. decodeSetupInfo reads over
// `record`: bytes past the end of `bytes` leave the fields they would fill as they were.
std::array<unsigned char, kSetupInfoSize> encodeSetupInfo(const TSetupInfo &record,
                                                          const CodePage &codePage);
void decodeSetupInfo(std::string_view bytes, TSetupInfo &record, const CodePage &codePage);

} // namespace veltrano

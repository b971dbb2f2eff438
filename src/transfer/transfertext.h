#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace veltrano {

// Texts of the transfer display and the path rules of downloads, apart from the engine so
// that they can be checked one by one.

// The size of the file in transfer: whole KB up to 1 MB (1048576 bytes is "1024KB"), whole MB
// above.
std::string transferSizeText(uint32_t size);
// Bytes so far: "1023B", "1.00KB", "1.00MB".
std::string transferCountText(int64_t count);
// ",%dB/S" up to 1024 bytes a second, else ",%dK/S".
std::string transferSpeedText(int64_t bytesPerSecond);

// The last component of a server path (code-page bytes): after the last '\' or '/', found
// character-aware; a trailing separator is ignored.
std::string_view remoteLastComponent(std::string_view path, const CodePage &cp);

// The local file or folder name for a server path, in UTF-8. nullopt when the name could lead
// out of the download folder or cannot be a Linux name: empty, ".", "..", or holding a NUL.
// A server decides these names, so nothing it sends may climb above the target folder.
std::optional<std::string> localNameOf(std::string_view remotePath, const CodePage &cp);

// One remote row dragged from the result list: the type letter ('F' a file, anything else a
// folder), the server path, '<', the size in KB.
struct DragEntry
{
    bool folder = false;
    std::string path; // code-page bytes
    uint32_t sizeKb = 0;
};
std::string formatDragEntry(const DragEntry &entry);
// nullopt for a text without '<' or without a path.
std::optional<DragEntry> parseDragEntry(std::string_view text);

} // namespace veltrano

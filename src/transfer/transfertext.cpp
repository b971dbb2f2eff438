#include "transfer/transfertext.h"

#include <charconv>

#include <fmt/format.h>

namespace veltrano {

std::string transferSizeText(uint32_t size)
{
    if (size <= 0x100000)
        return fmt::format("{}KB", size / 1024);
    return fmt::format("{}MB", size / 1048576);
}

std::string transferCountText(int64_t count)
{
    if (count < 1024)
        return fmt::format("{}B", count);
    if (count <= 0xFFFFF)
        return fmt::format("{:.2f}KB", double(count) / 1024);
    return fmt::format("{:.2f}MB", double(count) / 1048576);
}

std::string transferSpeedText(int64_t bytesPerSecond)
{
    if (bytesPerSecond <= 1024)
        return fmt::format(",{}B/S", bytesPerSecond);
    return fmt::format(",{}K/S", bytesPerSecond >> 10);
}

std::string_view remoteLastComponent(std::string_view path, const CodePage &cp)
{
    while (!path.empty() && (path.back() == '/' || path.back() == '\\')) {
        // A '\' may be the trail byte of a double-byte character: strip it only when it is not.
        const size_t at = cp.rfindChar(path, path.back());
        if (at != path.size() - 1)
            break;
        path.remove_suffix(1);
    }
    const size_t back = cp.rfindChar(path, '\\');
    const size_t slash = path.rfind('/'); // never a trail byte
    size_t cut = std::string_view::npos;
    if (back != std::string_view::npos)
        cut = back;
    if (slash != std::string_view::npos && (cut == std::string_view::npos || slash > cut))
        cut = slash;
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<std::string> localNameOf(std::string_view remotePath, const CodePage &cp)
{
    const std::string_view last = remoteLastComponent(remotePath, cp);
    if (last.empty() || last == "." || last == ".." || last.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string name = cp.toUtf8(last);
    // A backslash that was a trail byte is gone after decoding; a '/' cannot remain here.
    if (name.find('/') != std::string::npos)
        return std::nullopt;
    return name;
}

std::string formatDragEntry(const DragEntry &entry)
{
    return fmt::format("{}{}<{}", entry.folder ? 'D' : 'F', entry.path, entry.sizeKb);
}

std::optional<DragEntry> parseDragEntry(std::string_view text)
{
    const size_t lt = text.find('<'); // never a trail byte in the double-byte code pages
    if (text.size() < 2 || lt == std::string_view::npos || lt < 2)
        return std::nullopt;
    DragEntry entry;
    entry.folder = text[0] != 'F';
    entry.path = std::string(text.substr(1, lt - 1));
    const std::string_view size = text.substr(lt + 1);
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), value);
    entry.sizeKb = ec == std::errc() && end == size.data() + size.size() ? value : 0;
    return entry;
}

} // namespace veltrano

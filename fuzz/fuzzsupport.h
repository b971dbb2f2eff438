#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace veltrano::fuzz {

// Helpers shared by the fuzz targets.

// Targets that read several files take one input holding them all, cut at this marker; a part
// the input lacks is empty. A text marker keeps the parts apart under mutation better than
// length prefixes, which one flipped bit would throw out of step.
inline constexpr std::string_view kPartSeparator = "--8<--";

template <size_t N>
std::array<std::string_view, N> splitParts(std::string_view input)
{
    std::array<std::string_view, N> parts{};
    for (size_t i = 0; i < N; ++i) {
        const size_t at = i + 1 < N ? input.find(kPartSeparator) : std::string_view::npos;
        parts[i] = input.substr(0, at);
        if (at == std::string_view::npos)
            break;
        input.remove_prefix(at + kPartSeparator.size());
    }
    return parts;
}

inline std::string_view asText(const uint8_t *data, size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

// The code page of the caches and files the targets read: Big5, whose trail bytes look like
// ASCII letters and backslashes.
const CodePage &bigFive();

// A folder of the process's own below the system's temporary folder, emptied by reset() before
// each input and removed at exit. It sits two levels down so that a cache name ".." in a node
// list leads into a folder of ours, not into the temporary folder shared with others.
class Scratch
{
public:
    static Scratch &instance();

    // Empties the folder.
    void reset();
    // The folder as a cache folder: a native path ending with '/'.
    const std::string &folder() const { return m_folder; }
    void write(const std::filesystem::path &name, std::string_view bytes) const;
    // True when `path` names a plain file directly inside the folder: where a harness may write
    // a file named by the input.
    bool holds(const std::filesystem::path &path) const;

private:
    Scratch();
    ~Scratch();

    std::filesystem::path m_root;
    std::filesystem::path m_path;
    std::string m_folder;
};

// Ends the run with a report when an invariant of a reader's output does not hold; libFuzzer
// then keeps the input as a crash.
void require(bool holds, std::string_view what);

} // namespace veltrano::fuzz

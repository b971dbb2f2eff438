#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/codepage.h"

namespace veltrano {

// A Windows-style initialisation file held in memory: sections in file order, each a list of
// key=value entries in file order. Texts are code-page bytes; the code page is needed so that
// a Big5 trail byte that looks like ']' or '=' is never taken for one.
//
// Reading follows the Windows profile reader:
// - lines end with CR LF, LF or CR; blanks (space, tab) around section names, keys and values
//   are dropped; lines that are neither "[section]" nor "key=value" are ignored, as are
//   entries before the first section;
// - section names and keys are compared without regard to letter case;
// - a later section with the name of an earlier one merges into the earlier one, and of two
//   entries with one key the first is the one read.
// Writing follows the Windows profile writer: setValue changes the first entry of that key in
// the first section of that name, or appends the section or the entry; toBytes writes
// "[name]" and "key=value" lines ended by CR LF, values verbatim.
class IniFile
{
public:
    struct Entry
    {
        std::string key;
        std::string value;
    };
    struct Section
    {
        std::string name;
        std::vector<Entry> entries;
    };

    explicit IniFile(CodePage codePage = CodePage());

    static IniFile fromBytes(std::string_view bytes, CodePage codePage);
    // Throws Error when the file cannot be read; a missing file gives an empty IniFile.
    static IniFile load(const std::filesystem::path &path, CodePage codePage);

    const std::vector<Section> &sections() const { return m_sections; }
    std::vector<std::string> sectionNames() const;

    // The value of key in section; nullopt when either is absent.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback = {}) const;
    // The leading decimal number of the value ("200", "+7", "-3" gives 0 as the Windows
    // reader does for negative numbers; a value without digits gives 0); `fallback` when the
    // key is absent.
    long readInteger(std::string_view section, std::string_view key, long fallback = 0) const;

    void setValue(std::string_view section, std::string_view key, std::string_view value);

    std::string toBytes() const;
    // Replaces the file (written beside it and renamed); throws Error on failure.
    void save(const std::filesystem::path &path) const;

private:
    Section *findSection(std::string_view name);
    const Section *findSection(std::string_view name) const;

    CodePage m_codePage;
    std::vector<Section> m_sections;
};

} // namespace veltrano

#include "store/inifile.h"

#include "util/filebytes.h"

namespace veltrano {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Blanks never occur inside a multi-byte character of the supported code pages (Big5 trail
// bytes start at 0x40, UTF-8 ones at 0x80), so trimming byte-wise is safe.
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next line of bytes from `pos`, which moves past its end of line.
std::string_view nextLine(std::string_view bytes, size_t &pos)
{
    const size_t start = pos;
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        pos = bytes.size();
        return bytes.substr(start);
    }
    pos = end + 1;
    if (bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
        ++pos;
    return bytes.substr(start, end - start);
}

} // namespace

IniFile::IniFile(CodePage codePage)
    : m_codePage(std::move(codePage))
{
}

IniFile IniFile::fromBytes(std::string_view bytes, CodePage codePage)
{
    IniFile ini(std::move(codePage));
    const CodePage &cp = ini.m_codePage;
    Section *current = nullptr;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const std::string_view line = trimmed(nextLine(bytes, pos));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            const size_t close = cp.findChar(name, ']');
            if (close != std::string_view::npos)
                name = name.substr(0, close);
            name = trimmed(name);
            current = ini.findSection(name);
            if (!current) {
                ini.m_sections.push_back(Section {std::string(name), {}});
                current = &ini.m_sections.back();
            }
            continue;
        }
        const size_t equals = cp.findChar(line, '=');
        if (!current || equals == std::string_view::npos)
            continue;
        current->entries.push_back(Entry {std::string(trimmed(line.substr(0, equals))),
                                          std::string(trimmed(line.substr(equals + 1)))});
    }
    return ini;
}

IniFile IniFile::load(const std::filesystem::path &path, CodePage codePage)
{
    const std::optional<std::string> bytes = readFileBytes(path);
    return bytes ? fromBytes(*bytes, std::move(codePage)) : IniFile(std::move(codePage));
}

std::vector<std::string> IniFile::sectionNames() const
{
    std::vector<std::string> names;
    names.reserve(m_sections.size());
    for (const Section &section : m_sections)
        names.push_back(section.name);
    return names;
}

IniFile::Section *IniFile::findSection(std::string_view name)
{
    for (Section &section : m_sections) {
        if (m_codePage.equalsNoCase(section.name, name))
            return &section;
    }
    return nullptr;
}

const IniFile::Section *IniFile::findSection(std::string_view name) const
{
    return const_cast<IniFile *>(this)->findSection(name);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    const Section *found = findSection(section);
    if (!found)
        return std::nullopt;
    for (const Entry &entry : found->entries) {
        if (m_codePage.equalsNoCase(entry.key, key))
            return entry.value;
    }
    return std::nullopt;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view fallback) const
{
    std::optional<std::string> found = value(section, key);
    return found ? std::move(*found) : std::string(fallback);
}

long IniFile::readInteger(std::string_view section, std::string_view key, long fallback) const
{
    const std::optional<std::string> found = value(section, key);
    if (!found)
        return fallback;
    std::string_view text = *found;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        if (number > 100'000'000'000L)
            break; // far beyond any value of ours; stop before it can overflow
        number = number * 10 + (c - '0');
    }
    return negative ? 0 : number;
}

void IniFile::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    Section *target = findSection(section);
    if (!target) {
        m_sections.push_back(Section {std::string(section), {}});
        target = &m_sections.back();
    }
    for (Entry &entry : target->entries) {
        if (m_codePage.equalsNoCase(entry.key, key)) {
            entry.value = value;
            return;
        }
    }
    target->entries.push_back(Entry {std::string(key), std::string(value)});
}

std::string IniFile::toBytes() const
{
    std::string bytes;
    for (const Section &section : m_sections) {
        bytes += '[';
        bytes += section.name;
        bytes += "]\r\n";
        for (const Entry &entry : section.entries) {
            bytes += entry.key;
            bytes += '=';
            bytes += entry.value;
            bytes += "\r\n";
        }
    }
    return bytes;
}

void IniFile::save(const std::filesystem::path &path) const
{
    writeFileAtomically(path, toBytes());
}

} // namespace veltrano

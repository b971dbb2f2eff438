// The INI reader over any bytes. Whatever a file held, what was read must read back from what
// is written with the same sections, keys and values.

#include "store/inifile.h"

#include <cstdint>

#include "fuzzsupport.h"

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

bool sameContent(const IniFile &a, const IniFile &b)
{
    if (a.sections().size() != b.sections().size())
        return false;
    for (size_t i = 0; i < a.sections().size(); ++i) {
        const IniFile::Section &x = a.sections()[i];
        const IniFile::Section &y = b.sections()[i];
        if (x.name != y.name || x.entries.size() != y.entries.size())
            return false;
        for (size_t j = 0; j < x.entries.size(); ++j)
            if (x.entries[j].key != y.entries[j].key || x.entries[j].value != y.entries[j].value)
                return false;
    }
    return true;
}

// A name or key that ends in a lone Big5 lead byte takes the ']' or '=' written after it as
// its trail byte when read again. Files the program writes never hold one; a damaged file may,
// and then only such names change.
bool endsInHalfCharacter(const IniFile &ini)
{
    const auto half = [](std::string_view text) {
        for (size_t at = 0; at < text.size();) {
            const size_t n = bigFive().leadLength(static_cast<unsigned char>(text[at]));
            if (n > text.size() - at)
                return true;
            at += n;
        }
        return false;
    };
    for (const IniFile::Section &section : ini.sections()) {
        if (half(section.name))
            return true;
        for (const IniFile::Entry &entry : section.entries)
            if (half(entry.key))
                return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const IniFile ini = IniFile::fromBytes(asText(data, size), bigFive());
    for (const IniFile::Section &section : ini.sections()) {
        for (const IniFile::Entry &entry : section.entries) {
            require(ini.value(section.name, entry.key).has_value(), "a key read is found");
            (void)ini.readInteger(section.name, entry.key, -1);
        }
    }
    if (!endsInHalfCharacter(ini))
        require(sameContent(ini, IniFile::fromBytes(ini.toBytes(), bigFive())),
                "what was read reads back the same");
    return 0;
}

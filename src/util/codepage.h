#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrano {

// A code page: how the bytes of cache files, the program's own files and the search server's
// wire are to be read. Texts stay in code-page bytes inside the engine; this class converts
// them to and from UTF-8 at the boundary (through ICU) and offers the character-aware
// operations that must never mistake a Big5 trail byte (0x5C, an ASCII letter) for a
// character of its own.
//
// A CodePage is immutable after construction and safe to share between threads.
class CodePage
{
public:
    // The default of the program's own files and the wire: $VELTRANO_CODEPAGE, else CP950.
    static CodePage programDefault();
    // How the texts of the cache under cacheRoot are read: `override` when not empty, else the
    // cache's CODEPAGE marker, else CP950.
    static CodePage forCache(const std::filesystem::path &cacheRoot, std::string_view override = {});

    // Accepts the names a user gives: CP950, 950, Big5, MS950, windows-950 all mean Windows'
    // code page 950; UTF-8, utf8, 65001; any other name or alias that ICU knows; a bare
    // number n as windows-n. Throws Error for an unknown name.
    explicit CodePage(std::string_view name = "CP950");

    // The ICU converter name in use, e.g. "windows-950-2000" or "UTF-8".
    const std::string &name() const { return m_name; }
    bool isUtf8() const { return m_kind == Kind::Utf8; }
    bool isMultiByte() const { return m_kind != Kind::SingleByte; }

    // Code-page bytes to UTF-8; bytes without a mapping become U+FFFD.
    std::string toUtf8(std::string_view bytes) const;
    // UTF-8 to code-page bytes; nullopt when a character has no mapping in this code page.
    std::optional<std::string> fromUtf8(std::string_view utf8) const;
    // As fromUtf8, but characters without a mapping become the code page's substitute ('?').
    std::string fromUtf8Lossy(std::string_view utf8) const;

    // Length in bytes of the character that starts with this byte (1 to 4).
    uint8_t leadLength(unsigned char byte) const { return m_leadLength[byte]; }
    // Length of the character at p, never reaching past end.
    size_t charLength(const char *p, const char *end) const
    {
        const size_t n = m_leadLength[static_cast<unsigned char>(*p)];
        const size_t left = size_t(end - p);
        return n < left ? n : left;
    }
    // Upper-case of a byte that stands alone as a character (ASCII, or any byte of a
    // single-byte code page); bytes of longer characters are never looked up here.
    unsigned char upperByte(unsigned char byte) const { return m_upper[byte]; }
    const std::array<uint8_t, 256> &leadLengths() const { return m_leadLength; }
    const std::array<uint8_t, 256> &upperBytes() const { return m_upper; }

    // Upper-case of a two-byte character of a double-byte page (lead << 8 | trail), the
    // character itself when it has none. Only letters whose upper case is again two bytes
    // fold (full-width Latin, Greek, Cyrillic in Big5): positions stay where they were.
    uint16_t upperPair(unsigned char lead, unsigned char trail) const
    {
        const uint16_t code = uint16_t(lead << 8 | trail);
        return m_pairLead[lead] ? lookUpPair(code) : code;
    }
    // Whether upperPair gives this character as the upper case of another.
    bool hasLowerPair(unsigned char lead, unsigned char trail) const;

    // Character-aware upper-casing. A character keeps its byte length, so positions in the
    // upper-cased text are positions in the original.
    void upperInto(std::string_view text, std::string &out) const;
    std::string upper(std::string_view text) const;

    // Byte position of the first occurrence of needle that starts on a character boundary at
    // or after `from` (a boundary itself), or npos.
    size_t find(std::string_view hay, std::string_view needle, size_t from = 0) const;
    // The first / last position of the ASCII character c that is a character of its own.
    size_t findChar(std::string_view text, char c, size_t from = 0) const;
    size_t rfindChar(std::string_view text, char c) const;

    // Case-insensitive comparisons on the upper-cased bytes (locale rules of this code page).
    int compareNoCase(std::string_view a, std::string_view b) const;
    bool equalsNoCase(std::string_view a, std::string_view b) const;

private:
    enum class Kind { SingleByte, MultiByte, Utf8 };

    std::string m_name;
    Kind m_kind = Kind::SingleByte;
    std::array<uint8_t, 256> m_leadLength {};
    std::array<uint8_t, 256> m_upper {};
    // Lower-case two-byte characters with their upper case, sorted; and which lead bytes
    // start any of them, so that most characters never look further.
    std::vector<std::pair<uint16_t, uint16_t>> m_pairUpper;
    std::array<uint8_t, 256> m_pairLead {};

    uint16_t lookUpPair(uint16_t code) const;
    void buildPairFolds(void *converter);
    void findPairFolds(void *converter);
};

// The text of the one-line CODEPAGE marker in a cache root, without blanks; empty when the
// root has none.
std::string readCodePageMarker(const std::filesystem::path &cacheRoot);

} // namespace veltrano

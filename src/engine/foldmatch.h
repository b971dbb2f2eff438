#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace veltrano {

// Text tests of an entry name against an upper-case key, folding the name's letters while
// comparing instead of upper-casing a copy: the search runs them millions of times a second.
// Every position they consider is a character boundary of the name, so a Big5 trail byte that
// looks like an ASCII letter or a backslash is neither folded nor matched on its own.

// A name viewed in place: its text up to the first NUL, and whether all of it is ASCII (then
// every byte is a character of its own in every code page we read). `limit` is the end of the
// buffer that holds the name; readers may look ahead up to it, never past it.
struct NameBytes
{
    const unsigned char *data = nullptr;
    size_t length = 0;
    bool ascii = true;
    const unsigned char *limit = nullptr;

    std::string_view view() const { return {reinterpret_cast<const char *>(data), length}; }
    NameBytes tail(size_t from) const { return {data + from, length - from, ascii, limit}; }
};

// Measures a name field of `fieldLength` bytes at p (p + fieldLength <= limit) into `name`.
// (Filled in place: a returned copy costs a stalled store-to-load in the search's inner loop.)
void measureName(const unsigned char *p, size_t fieldLength, const unsigned char *limit,
                 NameBytes &name);
inline NameBytes measureName(std::string_view text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    NameBytes name;
    measureName(p, text.size(), p + text.size(), name);
    return name;
}

class FoldMatcher
{
public:
    FoldMatcher() = default;
    // `key` is upper-case in the code page. An unmappable key (`mappable` false) is contained
    // in and equal to nothing.
    FoldMatcher(std::string key, bool mappable, const CodePage &cp);

    // The key occurs in the upper-cased name, starting on a character boundary. An empty key
    // occurs nowhere.
    bool contains(const NameBytes &name) const;
    // The same for a name field not yet measured (its text ends at the first NUL): one pass
    // over the bytes finds the end, checks for bytes beyond ASCII and tests the candidates.
    bool containsInField(const unsigned char *p, size_t fieldLength, const unsigned char *limit) const;
    // The upper-cased name equals the key.
    bool equals(const NameBytes &name) const;
    // Byte-wise order of the upper-cased name against the key: negative, zero or positive.
    int compare(const NameBytes &name) const;

    const CodePage &codePage() const { return m_cp; }

private:
    bool containsAscii(const NameBytes &name) const;
    bool containsFrom(const unsigned char *s, size_t n, size_t from) const;
    bool matchesAt(const unsigned char *s, size_t n, size_t at) const;
    const std::string &upperCopy(const NameBytes &name) const;

    std::string m_key;
    bool m_mappable = true;
    bool m_keyAscii = true;
    CodePage m_cp {"UTF-8"};
    bool m_utf8 = true;
};

} // namespace veltrano

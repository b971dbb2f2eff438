#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/codepage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrano {

namespace fold_detail {
constexpr size_t kFoldBlock = 16;
inline unsigned lowBits(size_t count)
{
    return count >= 32 ? ~0u : (1u << count) - 1;
}
// Whether the bytes [p, to) are all ASCII; 16 bytes must be readable from the last block's start.
inline bool allAscii(const unsigned char *p, const unsigned char *to)
{
#if defined(__SSE2__)
    for (; p < to; p += kFoldBlock) {
        const unsigned high =
                unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))));
        if (high & lowBits(size_t(to - p)))
            return false;
    }
    return true;
#else
    for (; p < to; ++p)
        if (*p >= 0x80)
            return false;
    return true;
#endif
}
} // namespace fold_detail

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

// Where an upper-case key could occur, found over a whole run of bytes at a time rather than
// name by name: the positions whose first byte could fold to the key's first byte and whose
// last byte could fold to the key's last. Every match that FoldMatcher finds starts at such a
// position, so a name field that holds none cannot contain the key, and the search tests only
// the names that do (as grep looks for its key across a buffer before it looks for lines).
//
// Candidates are bytes b with (b | 0x20) == (k | 0x20); that covers every byte that folds to k
// only when k's partners in the code page differ from it in that bit alone, so the finder is
// usable only then (always for an ASCII key in the code pages of Chinese and western caches).
class KeyCandidates
{
public:
    KeyCandidates() = default;
    KeyCandidates(std::string_view upperKey, bool mappable, const CodePage &cp);

    bool usable() const { return m_find != nullptr; }
    size_t keyLength() const { return m_probe.length; }
    // The first candidate position in [from, end - keyLength()]; when there is none, the first
    // position past that range (never before `from`).
    const unsigned char *find(const unsigned char *from, const unsigned char *end) const
    {
        return m_find(m_probe, from, end);
    }
    // The candidates in [from, last] whose first 16 bytes could also fold to the key's (see
    // Probe), as offsets from `base`, in order; at most last - from + 1 of them, but `out` must
    // have room for kCollectSlack more. The bytes up to last + 63 + keyLength() must be
    // readable. For a scan that meets candidates often, which would otherwise set the search
    // up anew after each one.
    static constexpr size_t kCollectSlack = 4;
    size_t collect(const unsigned char *base, const unsigned char *from, const unsigned char *last,
                   uint32_t *out) const
    {
        return m_collect(m_probe, base, from, last, out);
    }

    // The bytes looked at, each with its 0x20 bit set: the key's first, one from its middle
    // (at middleAt), and its last.
    struct Probe
    {
        unsigned char first = 0;
        unsigned char middle = 0;
        unsigned char last = 0;
        size_t middleAt = 0;
        size_t length = 0;
        // A finer test of a candidate: its bytes against the key's first 16, as far as those
        // fold within their 0x20 bit.
        alignas(16) unsigned char foldBits[16] = {}; // 0x20 where a byte is tested
        alignas(16) unsigned char folded[16] = {}; // the key's bytes there, with that bit set
        unsigned foldedMask = 0; // the bytes tested
    };
    using Finder = const unsigned char *(*)(const Probe &probe, const unsigned char *from,
                                            const unsigned char *end);

    // The vector width the finder uses: the widest the processor has, or one forced (tests
    // cover each path on one machine). Affects finders made afterwards; false when the
    // processor lacks the one asked for (the widest it has is used then).
    enum class Simd {
        Widest,
        Sse2,
        Avx2
    };
    static bool useSimd(Simd simd);

private:
    Finder m_find = nullptr;
    size_t (*m_collect)(const Probe &probe, const unsigned char *base, const unsigned char *from,
                        const unsigned char *last, uint32_t *out) = nullptr;
    Probe m_probe;
};

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
    // Whether the key occurs at `at`, a position of the name s[0, n) that the key's candidates
    // name (KeyCandidates): 1 it does, 0 it does not (a later candidate may), -1 only a test of
    // the whole name can tell (a UTF-8 name beyond ASCII, whose upper case ICU decides). 16
    // bytes must be readable past the name and at s + at.
    int occursAtCandidate(const unsigned char *s, size_t n, size_t at) const;
    // The upper-cased name equals the key.
    bool equals(const NameBytes &name) const;
    // Byte-wise order of the upper-cased name against the key: negative, zero or positive.
    int compare(const NameBytes &name) const;

    const CodePage &codePage() const { return m_cp; }
    const KeyCandidates &candidates() const { return m_candidates; }

private:
    bool containsMeasuring(const unsigned char *p, size_t fieldLength, const unsigned char *limit) const;
    bool containsAscii(const NameBytes &name) const;
    bool containsFrom(const unsigned char *s, size_t n, size_t from) const;
    bool matchesAt(const unsigned char *s, size_t n, size_t at) const;
#if defined(__SSE2__)
    // matchesAt for a candidate inside the ASCII part of a name, 16 bytes readable at s + at.
    bool matchesAsciiAt(const unsigned char *s, size_t n, size_t at) const;
#endif
    const std::string &upperCopy(const NameBytes &name) const;

    std::string m_key;
    bool m_mappable = true;
    bool m_keyAscii = true;
    alignas(16) unsigned char m_keyBlock[16] = {}; // the key's first 16 bytes, then NULs
    unsigned m_keyBlockMask = 0;                   // a bit for each byte of the key in the block
    CodePage m_cp {"UTF-8"};
    bool m_utf8 = true;
    KeyCandidates m_candidates;
};

// The search's inner loop calls this for every entry; it lives here to be inlined there.
inline bool FoldMatcher::containsInField(const unsigned char *p, size_t fieldLength,
                                  const unsigned char *limit) const
{
    const size_t m = m_key.size();
#if defined(__SSE2__)
    if (m_mappable && m_keyAscii && m != 0 && size_t(limit - p) >= fieldLength + m + fold_detail::kFoldBlock) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i lowerBit = _mm_set1_epi8(0x20);
        const __m128i first = _mm_set1_epi8(char(m_key[0] | 0x20));
        const __m128i final = _mm_set1_epi8(char(m_key[m - 1] | 0x20));
        for (size_t i = 0; i < fieldLength; i += fold_detail::kFoldBlock) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            const unsigned inField = fold_detail::lowBits(fieldLength - i);
            const unsigned nul = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, zero))) & inField;
            const size_t end = nul ? i + size_t(__builtin_ctz(nul)) : fieldLength;
            // A byte beyond ASCII before the end: the name needs the character-aware path. The
            // candidates below never reach a later one: an ASCII key cannot match it.
            if (unsigned(_mm_movemask_epi8(a)) & fold_detail::lowBits(end - i))
                return containsMeasuring(p, fieldLength, limit);
            if (end >= i + m) {
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + m - 1));
                unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(
                        _mm_cmpeq_epi8(_mm_or_si128(a, lowerBit), first),
                        _mm_cmpeq_epi8(_mm_or_si128(b, lowerBit), final))));
                mask &= fold_detail::lowBits(end - m - i + 1);
                while (mask) {
                    if (matchesAsciiAt(p, end, i + size_t(__builtin_ctz(mask))))
                        return true;
                    mask &= mask - 1;
                }
            }
            if (nul)
                return false;
        }
        return false;
    }
#endif
    return containsMeasuring(p, fieldLength, limit);
}

inline int FoldMatcher::occursAtCandidate(const unsigned char *s, size_t n, size_t at) const
{
    if (!m_mappable || m_key.empty())
        return 0;
    // Outside UTF-8 only the bytes before the candidate can make it the second of a character.
    if (!fold_detail::allAscii(s, m_utf8 ? s + n : s + at)) {
        if (m_utf8)
            return -1;
        // A byte below 0x80 may be the second of a double-byte character: only the walk from
        // the name's start tells where characters begin.
        const auto &lead = m_cp.leadLengths();
        size_t p = 0;
        while (p < at)
            p += lead[s[p]];
        if (p != at)
            return 0;
    }
#if defined(__SSE2__)
    if (m_keyAscii)
        return matchesAsciiAt(s, n, at) ? 1 : 0;
#endif
    return matchesAt(s, n, at) ? 1 : 0;
}

#if defined(__SSE2__)
inline bool FoldMatcher::matchesAsciiAt(const unsigned char *s, size_t n, size_t at) const
{
    if (m_keyBlockMask == 0 || m_key.size() > fold_detail::kFoldBlock)
        return matchesAt(s, n, at);
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + at));
    // A byte beyond ASCII may fold to an ASCII letter in some single-byte code pages: the
    // table decides those.
    if (unsigned(_mm_movemask_epi8(x)) & m_keyBlockMask)
        return matchesAt(s, n, at);
    const __m128i fromA = _mm_sub_epi8(x, _mm_set1_epi8('a'));
    const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(25)), fromA);
    const __m128i upper = _mm_sub_epi8(x, _mm_and_si128(lower, _mm_set1_epi8(0x20)));
    const __m128i key = _mm_load_si128(reinterpret_cast<const __m128i *>(m_keyBlock));
    const unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(upper, key)));
    return (same & m_keyBlockMask) == m_keyBlockMask;
}
#endif

} // namespace veltrano

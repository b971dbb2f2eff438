#include "search/foldmatch.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace veltrano {
namespace {

#if defined(__SSE2__)
constexpr size_t kBlock = 16;

inline unsigned lowBits(size_t count)
{
    return count >= 32 ? ~0u : (1u << count) - 1;
}
#endif

using Probe = KeyCandidates::Probe;

bool candidateAt(const Probe &k, const unsigned char *p)
{
    return (p[0] | 0x20) == k.first && (p[k.middleAt] | 0x20) == k.middle
           && (p[k.length - 1] | 0x20) == k.last;
}

// The portable finder, and the tail of the vector ones.
const unsigned char *findCandidateBytewise(const Probe &k, const unsigned char *from,
                                           const unsigned char *end)
{
    if (size_t(end - from) < k.length)
        return from;
    const unsigned char *const stop = end - k.length + 1;
    for (const unsigned char *p = from; p < stop; ++p)
        if (candidateAt(k, p))
            return p;
    return stop;
}

#if defined(__SSE2__)
const unsigned char *findCandidateSse2(const Probe &k, const unsigned char *from,
                                       const unsigned char *end)
{
    if (size_t(end - from) < k.length)
        return from;
    const __m128i fold = _mm_set1_epi8(0x20);
    const auto folded = [&](const unsigned char *q, unsigned char byte) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        return _mm_cmpeq_epi8(_mm_or_si128(x, fold), _mm_set1_epi8(char(byte)));
    };
    const unsigned char *p = from;
    // Positions p .. p + 15 start a whole key when p + 15 + length <= end.
    for (; size_t(end - p) >= k.length + 15; p += 16) {
        const __m128i both = _mm_and_si128(folded(p, k.first), folded(p + k.length - 1, k.last));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(both, folded(p + k.middleAt, k.middle))));
        if (mask)
            return p + __builtin_ctz(mask);
    }
    return findCandidateBytewise(k, p, end);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) inline __m256i folded32(const unsigned char *q, const __m256i &byte)
{
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(q));
    return _mm256_cmpeq_epi8(_mm256_or_si256(x, _mm256_set1_epi8(0x20)), byte);
}

__attribute__((target("avx2"))) inline __m256i candidates32(const Probe &k, const __m256i &first,
                                                              const __m256i &middle,
                                                              const __m256i &last,
                                                              const unsigned char *q)
{
    return _mm256_and_si256(_mm256_and_si256(folded32(q, first), folded32(q + k.length - 1, last)),
                            folded32(q + k.middleAt, middle));
}

__attribute__((target("avx2"))) const unsigned char *
findCandidateAvx2(const Probe &k, const unsigned char *from, const unsigned char *end)
{
    if (size_t(end - from) < k.length)
        return from;
    const __m256i first = _mm256_set1_epi8(char(k.first));
    const __m256i middle = _mm256_set1_epi8(char(k.middle));
    const __m256i last = _mm256_set1_epi8(char(k.last));
    const unsigned char *p = from;
    // Two blocks a round: candidates are rare, and one test for both halves the branches.
    for (; size_t(end - p) >= k.length + 63; p += 64) {
        const __m256i lo = candidates32(k, first, middle, last, p);
        const __m256i hi = candidates32(k, first, middle, last, p + 32);
        if (!_mm256_testz_si256(_mm256_or_si256(lo, hi), _mm256_or_si256(lo, hi))) {
            const uint64_t mask = uint64_t(uint32_t(_mm256_movemask_epi8(lo)))
                                  | (uint64_t(uint32_t(_mm256_movemask_epi8(hi))) << 32);
            return p + __builtin_ctzll(mask);
        }
    }
    for (; size_t(end - p) >= k.length + 31; p += 32) {
        const unsigned mask = unsigned(_mm256_movemask_epi8(candidates32(k, first, middle, last, p)));
        if (mask)
            return p + __builtin_ctz(mask);
    }
    return findCandidateBytewise(k, p, end);
}
#endif

// The collectors: the candidates of a run of 64 positions at a time, each then tested against
// the key's first 16 bytes, written out without a branch on that test.
#if !defined(__SSE2__)
size_t collectBytewise(const Probe &k, const unsigned char *base, const unsigned char *from,
                       const unsigned char *last, uint32_t *out)
{
    size_t n = 0;
    for (const unsigned char *p = from; p <= last; ++p) {
        if (!candidateAt(k, p))
            continue;
        bool holds = true;
        for (unsigned i = 0; i < 16; ++i)
            holds = holds && (!(k.foldedMask >> i & 1) || (p[i] | k.foldBits[i]) == k.folded[i]);
        out[n] = uint32_t(p - base);
        n += holds ? 1 : 0;
    }
    return n;
}
#endif

#if defined(__SSE2__)
inline bool holds16(const Probe &k, const unsigned char *p)
{
    const __m128i x = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)),
                                   _mm_load_si128(reinterpret_cast<const __m128i *>(k.foldBits)));
    const unsigned same = unsigned(_mm_movemask_epi8(
            _mm_cmpeq_epi8(x, _mm_load_si128(reinterpret_cast<const __m128i *>(k.folded)))));
    return (same & k.foldedMask) == k.foldedMask;
}

// Writes out the candidates of `mask` (bit i: p + i) that hold the key's first 16 bytes.
inline size_t emitCandidates(const Probe &k, uint64_t mask, const unsigned char *p,
                             const unsigned char *base, uint32_t *out)
{
    size_t n = 0;
    for (; mask; mask &= mask - 1) {
        const unsigned char *c = p + __builtin_ctzll(mask);
        out[n] = uint32_t(c - base);
        n += holds16(k, c) ? 1 : 0;
    }
    return n;
}

// The bits of the positions from p up to `last`.
inline uint64_t upTo(const unsigned char *p, const unsigned char *last)
{
    return size_t(last - p) >= 63 ? ~uint64_t(0) : (uint64_t(2) << (last - p)) - 1;
}

size_t collectSse2(const Probe &k, const unsigned char *base, const unsigned char *from,
                   const unsigned char *last, uint32_t *out)
{
    const __m128i fold = _mm_set1_epi8(0x20);
    const __m128i first = _mm_set1_epi8(char(k.first));
    const __m128i middle = _mm_set1_epi8(char(k.middle));
    const __m128i final = _mm_set1_epi8(char(k.last));
    const auto folded = [&](const unsigned char *q, const __m128i &byte) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        return _mm_cmpeq_epi8(_mm_or_si128(x, fold), byte);
    };
    size_t n = 0;
    for (const unsigned char *p = from; p <= last; p += 64) {
        uint64_t mask = 0;
        for (unsigned i = 0; i < 64; i += 16) {
            const unsigned char *q = p + i;
            const __m128i both = _mm_and_si128(folded(q, first), folded(q + k.length - 1, final));
            mask |= uint64_t(unsigned(_mm_movemask_epi8(_mm_and_si128(both, folded(q + k.middleAt, middle)))))
                    << i;
        }
        if (mask)
            n += emitCandidates(k, mask & upTo(p, last), p, base, out + n);
    }
    return n;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define VELTRANO_AVX2 __attribute__((target("avx2,bmi,popcnt")))

// Writes the offsets from `base` of the positions p + i of mask's bits i at out[n], out[n + 1]
// and on; returns n plus their number. Four are written whatever their number (mostly one or
// two for a common key), so that no branch turns on it, which the processor would guess wrong
// at every other block; out must have room for three more.
VELTRANO_AVX2 inline size_t flattenBits(uint64_t mask, uint32_t at, uint32_t *out, size_t n)
{
    const size_t count = size_t(_mm_popcnt_u64(mask));
    for (size_t i = 0; i < 4; ++i) {
        out[n + i] = at + uint32_t(_tzcnt_u64(mask) & 63);
        mask = _blsr_u64(mask);
    }
    for (size_t i = n + 4; mask; ++i) {
        out[i] = at + uint32_t(_tzcnt_u64(mask));
        mask = _blsr_u64(mask);
    }
    return n + count;
}

VELTRANO_AVX2 size_t collectAvx2(const Probe &k, const unsigned char *base,
                                 const unsigned char *from, const unsigned char *last,
                                 uint32_t *out)
{
    const __m256i first = _mm256_set1_epi8(char(k.first));
    const __m256i middle = _mm256_set1_epi8(char(k.middle));
    const __m256i final = _mm256_set1_epi8(char(k.last));
    // In three loops over a stretch, none with a branch the bytes decide: the masks, in a loop
    // whose reads run ahead undisturbed; the positions out of the masks that are not empty;
    // then the positions that also hold the key's first 16 bytes.
    constexpr size_t kBlocks = 32;
    uint64_t masks[kBlocks];
    size_t n = 0;
    for (const unsigned char *p = from; p <= last;) {
        const size_t blocks = std::min<size_t>(kBlocks, size_t(last - p) / 64 + 1);
        uint32_t full = 0; // a bit for each block with a candidate
        for (size_t b = 0; b < blocks; ++b) {
            // A page ahead: the processor's own fetching ahead stops at the end of a page. (An
            // address, not a pointer: it may lie past the names, and a prefetch never faults.)
            _mm_prefetch(reinterpret_cast<const char *>(reinterpret_cast<uintptr_t>(p) + 64 * b + 4096),
                         _MM_HINT_T0);
            const __m256i lo = candidates32(k, first, middle, final, p + 64 * b);
            const __m256i hi = candidates32(k, first, middle, final, p + 64 * b + 32);
            masks[b] = uint64_t(uint32_t(_mm256_movemask_epi8(lo)))
                       | (uint64_t(uint32_t(_mm256_movemask_epi8(hi))) << 32);
            full |= uint32_t(masks[b] != 0) << b;
        }
        masks[blocks - 1] &= upTo(p + 64 * (blocks - 1), last);
        const size_t start = n;
        for (; full; full = _blsr_u32(full)) {
            const size_t b = _tzcnt_u32(full);
            n = flattenBits(masks[b], uint32_t(p + 64 * b - base), out, n);
        }
        size_t kept = start;
        for (size_t i = start; i < n; ++i) {
            const uint32_t c = out[i];
            out[kept] = c;
            kept += holds16(k, base + c) ? 1 : 0;
        }
        n = kept;
        p += 64 * blocks;
    }
    return n;
}
#endif

std::atomic<KeyCandidates::Simd> g_simd{KeyCandidates::Simd::Widest};

bool hasAvx2()
{
#if defined(__x86_64__) && defined(__GNUC__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi")
           && __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

KeyCandidates::Finder bestFinder()
{
#if defined(__x86_64__) && defined(__GNUC__)
    if (g_simd.load(std::memory_order_relaxed) != KeyCandidates::Simd::Sse2 && hasAvx2())
        return findCandidateAvx2;
#endif
#if defined(__SSE2__)
    return findCandidateSse2;
#else
    return findCandidateBytewise;
#endif
}

// Whether every byte that folds to k in this code page is k or k with the 0x20 bit flipped.
bool foldsWithin0x20(unsigned char k, const CodePage &cp)
{
    // In UTF-8 a name beyond ASCII is upper-cased by ICU, whose changes of bytes beyond ASCII
    // follow no such rule; an ASCII byte there only ever comes from an ASCII letter.
    if (cp.isUtf8() && k >= 0x80)
        return false;
    const auto &upper = cp.upperBytes();
    for (unsigned b = 0; b < 256; ++b)
        if (upper[b] == k && (b | 0x20) != (k | 0x20u))
            return false;
    return true;
}

} // namespace

bool KeyCandidates::useSimd(Simd simd)
{
    g_simd.store(simd, std::memory_order_relaxed);
    return simd != Simd::Avx2 || hasAvx2();
}

KeyCandidates::KeyCandidates(std::string_view upperKey, bool mappable, const CodePage &cp)
{
    if (!mappable || upperKey.empty())
        return;
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(upperKey[i]); };
    const size_t m = upperKey.size();
    // The bytes of a double-byte letter that folds: its lower case differs in other bits.
    std::vector<bool> pairFolded(m, false);
    for (size_t i = 0; i < m; i += std::max<size_t>(cp.leadLength(byteAt(i)), 1)) {
        if (cp.leadLength(byteAt(i)) == 2 && i + 1 < m && cp.hasLowerPair(byteAt(i), byteAt(i + 1)))
            pairFolded[i] = pairFolded[i + 1] = true;
    }
    const auto usable = [&](size_t i) {
        return !pairFolded[i] && foldsWithin0x20(byteAt(i), cp);
    };
    if (!usable(0) || !usable(m - 1))
        return;
    m_probe.first = byteAt(0) | 0x20;
    m_probe.last = byteAt(m - 1) | 0x20;
    m_probe.length = m;
    // A third byte from the middle thins out the candidates of a common key; should it fold
    // in other ways, the first byte stands in for it.
    const size_t middle = m / 2;
    m_probe.middleAt = usable(middle) ? middle : 0;
    m_probe.middle = byteAt(m_probe.middleAt) | 0x20;
    for (size_t i = 0; i < std::min<size_t>(m, 16); ++i) {
        if (!usable(i))
            continue;
        m_probe.foldBits[i] = 0x20;
        m_probe.folded[i] = byteAt(i) | 0x20;
        m_probe.foldedMask |= 1u << i;
    }
    m_find = bestFinder();
#if defined(__x86_64__) && defined(__GNUC__)
    if (m_find == findCandidateAvx2)
        m_collect = collectAvx2;
    else
#endif
#if defined(__SSE2__)
        m_collect = collectSse2;
#else
        m_collect = collectBytewise;
#endif
}

void measureName(const unsigned char *p, size_t fieldLength, const unsigned char *limit,
                 NameBytes &name)
{
    name.data = p;
    name.length = fieldLength;
    name.limit = limit;
    size_t off = 0;
    unsigned high = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; off < fieldLength && size_t(limit - p) - off >= kBlock; off += kBlock) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + off));
        const unsigned keep = lowBits(fieldLength - off);
        const unsigned nul = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & keep;
        const unsigned bits = unsigned(_mm_movemask_epi8(v)) & keep;
        if (nul) {
            const unsigned at = unsigned(__builtin_ctz(nul));
            name.length = off + at;
            name.ascii = high == 0 && (bits & lowBits(at)) == 0;
            return;
        }
        high |= bits;
    }
#endif
    for (; off < fieldLength; ++off) {
        if (p[off] == 0) {
            name.length = off;
            break;
        }
        high |= p[off] & 0x80;
    }
    name.ascii = high == 0;
}

FoldMatcher::FoldMatcher(std::string key, bool mappable, const CodePage &cp)
    : m_key(std::move(key))
    , m_mappable(mappable)
    , m_cp(cp)
    , m_utf8(cp.isUtf8())
    , m_candidates(m_key, mappable, cp)
{
    for (const char c : m_key)
        if (static_cast<unsigned char>(c) & 0x80)
            m_keyAscii = false;
    if (m_keyAscii && !m_key.empty() && m_key.size() <= sizeof m_keyBlock) {
        std::memcpy(m_keyBlock, m_key.data(), m_key.size());
        m_keyBlockMask = fold_detail::lowBits(m_key.size());
    }
}

const std::string &FoldMatcher::upperCopy(const NameBytes &name) const
{
    // Only UTF-8 names with letters beyond ASCII come here; their upper case is found through
    // the code page's tables, which work on whole texts.
    thread_local std::string scratch;
    m_cp.upperInto(name.view(), scratch);
    return scratch;
}

// Whether the key matches the name's characters from byte `at` (a boundary) on, the name's
// single-byte characters folded, its longer characters compared as they stand.
bool FoldMatcher::matchesAt(const unsigned char *s, size_t n, size_t at) const
{
    const auto &upper = m_cp.upperBytes();
    const auto &lead = m_cp.leadLengths();
    const auto *key = reinterpret_cast<const unsigned char *>(m_key.data());
    const size_t m = m_key.size();
    size_t j = 0;
    size_t q = at;
    while (j < m) {
        if (q >= n)
            return false;
        size_t len = lead[s[q]];
        if (len > n - q)
            len = n - q;
        if (len == 1) {
            if (upper[s[q]] != key[j])
                return false;
        } else if (len > m - j) {
            return false;
        } else if (std::memcmp(s + q, key + j, len) != 0) {
            // A double-byte letter folds as a whole character, never byte by byte.
            if (len != 2 || m_cp.upperPair(s[q], s[q + 1]) != (key[j] << 8 | key[j + 1]))
                return false;
        }
        j += len;
        q += len;
    }
    return true;
}

bool FoldMatcher::containsFrom(const unsigned char *s, size_t n, size_t from) const
{
    const auto &lead = m_cp.leadLengths();
    for (size_t p = from; p < n && n - p >= m_key.size(); p += lead[s[p]])
        if (matchesAt(s, n, p))
            return true;
    return false;
}

bool FoldMatcher::containsAscii(const NameBytes &name) const
{
    const unsigned char *s = name.data;
    const size_t n = name.length;
    const size_t m = m_key.size();
    if (!m_keyAscii || n < m)
        return false; // upper-casing keeps ASCII names ASCII
    const size_t last = n - m;
#if defined(__SSE2__)
    const __m128i lowerBit = _mm_set1_epi8(0x20);
    const __m128i first = _mm_set1_epi8(char(m_key[0] | 0x20));
    const __m128i final = _mm_set1_epi8(char(m_key[m - 1] | 0x20));
    size_t i = 0;
    // Candidates are the positions whose first and last byte could fold to the key's; x | 0x20
    // merges each letter with its lower case (and a few punctuation pairs, which the check of
    // every byte below then turns away).
    for (; i <= last && size_t(name.limit - s) - i >= m - 1 + kBlock; i += kBlock) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + m - 1));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(
                _mm_cmpeq_epi8(_mm_or_si128(a, lowerBit), first),
                _mm_cmpeq_epi8(_mm_or_si128(b, lowerBit), final))));
        mask &= lowBits(last - i + 1);
        while (mask) {
            if (matchesAt(s, n, i + size_t(__builtin_ctz(mask))))
                return true;
            mask &= mask - 1;
        }
    }
    return i <= last && containsFrom(s, n, i);
#else
    (void)last;
    return containsFrom(s, n, 0);
#endif
}

bool FoldMatcher::containsMeasuring(const unsigned char *p, size_t fieldLength,
                                    const unsigned char *limit) const
{
    NameBytes name;
    measureName(p, fieldLength, limit, name);
    return contains(name);
}

bool FoldMatcher::contains(const NameBytes &name) const
{
    if (!m_mappable || m_key.empty())
        return false;
    if (name.ascii)
        return containsAscii(name);
    if (m_utf8)
        return m_cp.find(upperCopy(name), m_key) != std::string::npos;
    return containsFrom(name.data, name.length, 0);
}

bool FoldMatcher::equals(const NameBytes &name) const
{
    if (!m_mappable || name.length != m_key.size())
        return false;
    if (!name.ascii && m_utf8)
        return upperCopy(name) == m_key;
    return matchesAt(name.data, name.length, 0);
}

int FoldMatcher::compare(const NameBytes &name) const
{
    if (!name.ascii && m_utf8) {
        const int r = upperCopy(name).compare(m_key);
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    const auto &upper = m_cp.upperBytes();
    const auto &lead = m_cp.leadLengths();
    const auto *key = reinterpret_cast<const unsigned char *>(m_key.data());
    const unsigned char *s = name.data;
    const size_t n = name.length;
    const size_t m = m_key.size();
    for (size_t q = 0; q < n && q < m;) {
        const size_t len = name.ascii ? 1 : lead[s[q]];
        if (len == 1) {
            const unsigned char c = upper[s[q]];
            if (c != key[q])
                return c < key[q] ? -1 : 1;
            ++q;
            continue;
        }
        unsigned char c[4] = {};
        std::memcpy(c, s + q, std::min(len, n - q));
        if (len == 2 && q + 1 < n) {
            const uint16_t up = m_cp.upperPair(s[q], s[q + 1]);
            c[0] = uint8_t(up >> 8);
            c[1] = uint8_t(up);
        }
        for (size_t k = 0; k < len && q < n && q < m; ++k, ++q)
            if (c[k] != key[q])
                return c[k] < key[q] ? -1 : 1;
    }
    return n == m ? 0 : (n < m ? -1 : 1);
}

} // namespace veltrano

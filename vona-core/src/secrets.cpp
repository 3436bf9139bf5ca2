// The credential scanner.
//
// Every shape starts with a fixed prefix, so one pass looks for prefix
// trigrams with SIMD (nibble lookups with AVX2, byte compares with plain
// SSE2; text without candidates goes through at memory speed) and verifies
// each candidate with plain code. Only existence matters, not where a match
// starts or ends, so each shape reduces to "prefix, then a run of at least n
// characters of one class" (the JWT to three such runs joined by dots).
//
// Linear time: a failed run check remembers where the run ended; a later
// candidate whose run starts inside that same run ends there too, with fewer
// characters, so it is skipped without looking at the run again. Checks that
// need only n characters stop after n.
//
// The Anthropic shape is never checked: its prefix starts with the OpenAI
// prefix and everything after that is url-safe, so any Anthropic key is an
// OpenAI match too, and that index comes first.
#include "secrets.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace vona::core {
namespace {

enum : uint8_t { URL = 1, ALNUM = 2, UPNUM = 4, SLACK = 8 };

constexpr std::array<uint8_t, 256> make_classes() {
    std::array<uint8_t, 256> c{};
    for (int b = 0; b < 256; ++b) {
        bool upper = b >= 'A' && b <= 'Z', lower = b >= 'a' && b <= 'z', digit = b >= '0' && b <= '9';
        uint8_t bits = 0;
        if (upper || lower || digit) bits |= URL | ALNUM | SLACK;
        if (upper || digit) bits |= UPNUM;
        if (b == '_') bits |= URL;
        if (b == '-') bits |= URL | SLACK;
        c[static_cast<size_t>(b)] = bits;
    }
    return c;
}
constexpr std::array<uint8_t, 256> CLASS = make_classes();

constexpr int NONE = 10;

struct Scan {
    const unsigned char* t;
    size_t n;
    int best = NONE;
    // End of the last failed run per shape (see the file comment).
    size_t aws_fail = 0, openai_fail = 0, google_fail = 0, slack_fail = 0, jwt_fail = 0;

    // Where the run of cls starting at from stops, looking at most cap chars.
    size_t run_end(size_t from, uint8_t cls, size_t cap = SIZE_MAX) const {
        size_t limit = n - from < cap ? n : from + cap;
        size_t i = from;
        while (i < limit && (CLASS[t[i]] & cls)) ++i;
        return i;
    }

    // Prefix of length plen at p, then at least need chars of cls. fail is
    // the shape's failed-run memo.
    bool prefixed_run(size_t p, size_t plen, uint8_t cls, size_t need, size_t& fail) {
        size_t from = p + plen;
        if (from <= fail) return false;  // same run as a failed check, fewer chars
        size_t e = run_end(from, cls, need);
        if (e - from >= need) return true;
        fail = e;
        return false;
    }

    bool pem(const unsigned char* s, size_t left) const {
        constexpr std::string_view begin = "-----BEGIN ", label = "PRIVATE KEY-----";
        constexpr std::string_view kinds[] = {"", "RSA ", "EC ", "DSA ", "OPENSSH "};
        if (left < begin.size() + label.size() || std::memcmp(s, begin.data(), begin.size()) != 0) return false;
        s += begin.size();
        left -= begin.size();
        for (std::string_view kind : kinds) {
            if (left < kind.size() + label.size()) continue;
            if (std::memcmp(s, kind.data(), kind.size()) == 0 &&
                std::memcmp(s + kind.size(), label.data(), label.size()) == 0)
                return true;
        }
        return false;
    }

    // eyJ at p: segment one runs to the end of its url-safe run, which must
    // be a dot (a dot is not url-safe, so the run cannot stop earlier), and
    // likewise segment two, which must start right after the first dot.
    bool jwt(size_t p) {
        size_t a = p + 3;
        if (a <= jwt_fail) return false;
        size_t e1 = run_end(a, URL);
        jwt_fail = e1;
        if (e1 - a < 10 || n - e1 < 1 + 3 + 10 + 1 + 10 || t[e1] != '.') return false;
        size_t b = e1 + 1;
        if (t[b] != 'e' || t[b + 1] != 'y' || t[b + 2] != 'J') return false;
        size_t e2 = run_end(b + 3, URL);
        if (e2 - (b + 3) < 10 || e2 >= n || t[e2] != '.') return false;
        size_t c = e2 + 1;
        return run_end(c, URL, 10) - c >= 10;
    }

    // Everything about a candidate is checked here, with bounds; the filter
    // only decides which positions get here.
    __attribute__((noinline)) void candidate(size_t p) {
        const unsigned char* s = t + p;
        size_t left = n - p;
        switch (s[0]) {
        case 'A':
            if (left >= 20 && s[1] == 'K' && s[2] == 'I' && s[3] == 'A') {
                if (prefixed_run(p, 4, UPNUM, 16, aws_fail)) best = 0;
            } else if (best > 6 && left >= 39 && s[1] == 'I' && s[2] == 'z' && s[3] == 'a') {
                if (prefixed_run(p, 4, URL, 35, google_fail)) best = 6;
            }
            break;
        case 's':
            if (best > 1 && left >= 23 && s[1] == 'k' && s[2] == '-')
                if (prefixed_run(p, 3, URL, 20, openai_fail)) best = 1;
            break;
        case 'g':
            if (left >= 40 && s[1] == 'h' && s[3] == '_') {
                int idx = s[2] == 'p' ? 3 : s[2] == 'o' ? 4 : (s[2] == 'u' || s[2] == 's') ? 5 : NONE;
                // Alnum runs never cross the '_' of another prefix: no memo needed.
                if (idx < best && run_end(p + 4, ALNUM, 36) - (p + 4) >= 36) best = idx;
            }
            break;
        case 'x':
            if (best > 7 && left >= 15 && s[1] == 'o' && s[2] == 'x' && s[4] == '-' &&
                (s[3] == 'b' || s[3] == 'a' || s[3] == 'p' || s[3] == 'r' || s[3] == 's'))
                if (prefixed_run(p, 5, SLACK, 10, slack_fail)) best = 7;
            break;
        case '-':
            if (best > 8 && pem(s, left)) best = 8;
            break;
        case 'e':
            if (best > 9 && left >= 38 && s[1] == 'y' && s[2] == 'J' && jwt(p)) best = 9;
            break;
        default:
            break;
        }
    }

    // Candidates of a 64-bit position mask starting at base. True once the
    // answer cannot get better.
    bool candidates(size_t base, uint64_t m) {
        while (m) {
            candidate(base + static_cast<size_t>(__builtin_ctzll(m)));
            if (best == 0) return true;
            m &= m - 1;
        }
        return false;
    }

    int scalar_tail(size_t i) {
        for (; i < n; ++i) {
            candidate(i);
            if (best == 0) break;
        }
        return best == NONE ? -1 : best;
    }
};

// One 16-byte block: bit k set when a prefix trigram starts at p + k.
// Reads p[0 .. 18].
inline uint32_t block16(const unsigned char* p) {
    auto ld = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    __m128i v0 = ld(p), v1 = ld(p + 1), v2 = ld(p + 2), v3 = ld(p + 3);
    __m128i dash2 = eq(v2, '-');
    __m128i a = _mm_and_si128(eq(v0, 'A'), _mm_or_si128(_mm_and_si128(eq(v1, 'K'), eq(v2, 'I')),
                                                        _mm_and_si128(eq(v1, 'I'), eq(v2, 'z'))));
    __m128i sk = _mm_and_si128(_mm_and_si128(eq(v0, 's'), eq(v1, 'k')), dash2);
    __m128i gh = _mm_and_si128(_mm_and_si128(eq(v0, 'g'), eq(v1, 'h')), eq(v3, '_'));
    __m128i xo = _mm_and_si128(_mm_and_si128(eq(v0, 'x'), eq(v1, 'o')), eq(v2, 'x'));
    __m128i da = _mm_and_si128(_mm_and_si128(eq(v0, '-'), eq(v1, '-')), dash2);
    __m128i ey = _mm_and_si128(_mm_and_si128(eq(v0, 'e'), eq(v1, 'y')), eq(v2, 'J'));
    __m128i m = _mm_or_si128(_mm_or_si128(_mm_or_si128(a, sk), _mm_or_si128(gh, xo)), _mm_or_si128(da, ey));
    return static_cast<uint32_t>(_mm_movemask_epi8(m));
}

int scan_sse2(const unsigned char* t, size_t n) {
    Scan s{t, n};
    size_t i = 0;
    for (; i + 67 <= n; i += 64) {
        uint64_t m = uint64_t{block16(t + i)} | uint64_t{block16(t + i + 16)} << 16 |
                     uint64_t{block16(t + i + 32)} << 32 | uint64_t{block16(t + i + 48)} << 48;
        if (m && s.candidates(i, m)) return 0;
    }
    for (; i + 19 <= n; i += 16)
        if (uint32_t m = block16(t + i); m && s.candidates(i, m)) return 0;
    return s.scalar_tail(i);
}

// With AVX2 the trigram test is a nibble lookup: each prefix owns one bit;
// for byte k of the trigram, LO[k][low nibble] & HI[k][high nibble] keeps
// the bits of the prefixes whose k-th character is that byte, and the three
// are ANDed: half the instructions of the compares.
struct NibbleTables {
    alignas(32) uint8_t lo[3][32];
    alignas(32) uint8_t hi[3][32];
};

constexpr NibbleTables make_nibble_tables() {
    // Per prefix bit, the allowed characters at each of the three places. A
    // set lets through the products of its nibbles (for "pous" also c, e, ...
    // after gh), which the verification turns away.
    constexpr const char* prefixes[7][3] = {{"A", "K", "I"}, {"A", "I", "z"}, {"s", "k", "-"}, {"g", "h", "pous"},
                                            {"x", "o", "x"}, {"-", "-", "-"}, {"e", "y", "J"}};
    NibbleTables t{};
    for (int b = 0; b < 7; ++b)
        for (int k = 0; k < 3; ++k)
            for (const char* c = prefixes[b][k]; *c; ++c) {
                unsigned char ch = static_cast<unsigned char>(*c);
                uint8_t bit = static_cast<uint8_t>(1 << b);
                t.lo[k][ch & 15] |= bit;
                t.lo[k][(ch & 15) + 16] |= bit;
                t.hi[k][ch >> 4] |= bit;
                t.hi[k][(ch >> 4) + 16] |= bit;
            }
    return t;
}
constexpr NibbleTables NIBBLES = make_nibble_tables();

__attribute__((target("avx2"))) inline __m256i ld32(const unsigned char* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

// Prefix bits of the 32 positions starting at p. Reads p[0 .. 33].
__attribute__((target("avx2"))) inline __m256i block32(const unsigned char* p) {
    const __m256i low4 = _mm256_set1_epi8(0x0F);
    __m256i acc = _mm256_set1_epi8(-1);
    for (int k = 0; k < 3; ++k) {
        __m256i v = ld32(p + k);
        __m256i lo = _mm256_and_si256(v, low4);
        __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), low4);
        __m256i bits = _mm256_and_si256(_mm256_shuffle_epi8(ld32(NIBBLES.lo[k]), lo),
                                        _mm256_shuffle_epi8(ld32(NIBBLES.hi[k]), hi));
        acc = _mm256_and_si256(acc, bits);
    }
    return acc;
}

__attribute__((target("avx2"))) inline uint32_t nonzero_mask(__m256i v) {
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
}

__attribute__((target("avx2"))) int scan_avx2(const unsigned char* t, size_t n) {
    Scan s{t, n};
    size_t i = 0;
    for (; i + 67 <= n; i += 64) {
        __m256i x = block32(t + i), y = block32(t + i + 32);
        if (_mm256_testz_si256(_mm256_or_si256(x, y), _mm256_or_si256(x, y))) continue;
        uint64_t m = uint64_t{nonzero_mask(x)} | uint64_t{nonzero_mask(y)} << 32;
        if (s.candidates(i, m)) return 0;
    }
    for (; i + 19 <= n; i += 16)
        if (uint32_t m = block16(t + i); m && s.candidates(i, m)) return 0;
    return s.scalar_tail(i);
}

}  // namespace

const SecretPatterns& SECRET_PATTERNS() {
#ifdef VONA_SECRETS_FORCE_SSE2  // developer check of the baseline filter on AVX2 machines
    static const SecretPatterns patterns(scan_sse2);
#else
    static const SecretPatterns patterns(__builtin_cpu_supports("avx2") ? scan_avx2 : scan_sse2);
#endif
    return patterns;
}

}  // namespace vona::core

// UTF-8 helpers. Texts that come from Python strings are valid UTF-8, so
// the decoder used on them does no checking; validate() is for bytes from files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vona::utf8 {

// Length of the sequence that starts with lead byte b (1 for continuation
// bytes, so that a walk over broken input still moves forward).
inline size_t seq_len(unsigned char b) {
    if (b < 0xC0) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

// Decodes the code point at p (valid UTF-8 with at least seq_len bytes left)
// and stores its length in len.
inline uint32_t decode(const unsigned char* p, size_t& len) {
    unsigned char b = p[0];
    if (b < 0x80) {
        len = 1;
        return b;
    }
    if (b < 0xE0) {
        len = 2;
        return ((b & 0x1Fu) << 6) | (p[1] & 0x3Fu);
    }
    if (b < 0xF0) {
        len = 3;
        return ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
    }
    len = 4;
    return ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
}

inline uint32_t decode(std::string_view s, size_t pos, size_t& len) {
    return decode(reinterpret_cast<const unsigned char*>(s.data()) + pos, len);
}

// Appends the UTF-8 form of a scalar value.
inline void append(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline size_t encoded_len(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Number of code points of valid UTF-8: every byte that is not a continuation byte.
inline size_t count_chars(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// The first index at or after i where [p, p+n) holds a non-ASCII byte, or
// a point at most 7 bytes before n; checks eight bytes at a time.
inline size_t skip_ascii8(const unsigned char* p, size_t i, size_t n) {
    while (i + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull) break;
        i += 8;
    }
    return i;
}

// Length of the longest valid UTF-8 prefix of [p, p+n) (n when all of it is valid).
size_t valid_prefix(const unsigned char* p, size_t n);

inline bool valid(std::string_view s) {
    return valid_prefix(reinterpret_cast<const unsigned char*>(s.data()), s.size()) == s.size();
}

// Replaces every maximal invalid subsequence by U+FFFD (the substitution of
// maximal subparts that Python's 'replace' error handler also uses).
std::string repair(std::string_view bytes);

}  // namespace vona::utf8

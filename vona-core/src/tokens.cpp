// The token scanner. The pattern it implements, tried in this order at each
// position (leftmost-first, greedy as a backtracking engine would be):
//
//   emoji run   (starter (ZWJ starter)* [VS16 keycap skin-tone]*)+
//   word        [L N _] ([L N _ -]* [L N _])?
//   operator    != == <= >= << >> += -= *= /= %= && || -> => :: := ... ..
//   symbol      any one character that is neither white space nor \w
//
// Everything else (white space, and \w characters that cannot start a word
// or an emoji run: marks, joiners, connector punctuation other than '_',
// alphabetic symbols such as U+24B6) lies between tokens.
//
// Nothing after the emoji group or the word's optional tail can fail, so the
// greedy reading is always the one a backtracking engine settles on; the
// scanner never has to back up except for the word's trailing hyphens.
#include "tokens.h"

#include <array>
#include <cstdint>

#include "unicode.h"
#include "utf8.h"

namespace vona::core {
namespace {

using unicode::classes;

enum AsciiKind : uint8_t { A_SKIP, A_WORD, A_SYMBOL };

// ASCII holds no emoji starter and no \w character outside [A-Za-z0-9_], so
// one byte decides what an ASCII character starts.
constexpr std::array<uint8_t, 128> ascii_kinds() {
    std::array<uint8_t, 128> k{};
    for (int c = 0; c < 128; ++c) {
        bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        // White_Space in ASCII: TAB..CR and SPACE (not the separators 0x1C..0x1F).
        bool space = (c >= 0x09 && c <= 0x0D) || c == 0x20;
        k[c] = word ? A_WORD : space ? A_SKIP : A_SYMBOL;
    }
    return k;
}
constexpr std::array<uint8_t, 128> ASCII_KIND = ascii_kinds();

constexpr uint16_t WORD_START = unicode::LETTER | unicode::NUMBER;

// Code point at p (a non-ASCII lead byte) with its length; false for a byte
// that cannot start a sequence or one that would run past the end. Only
// broken UTF-8 does that, and it is then read byte by byte.
inline bool decode_at(const unsigned char* s, size_t n, size_t p, uint32_t& cp, size_t& len) {
    len = utf8::seq_len(s[p]);
    if (s[p] < 0xC0 || len > n - p) {  // stray continuation byte or truncated sequence
        len = 1;
        cp = s[p];
        return false;
    }
    cp = utf8::decode(s + p, len);
    return true;
}

inline bool is_starter_at(const unsigned char* s, size_t n, size_t p, size_t& len) {
    if (p >= n || s[p] < 0x80) return false;
    uint32_t cp;
    if (!decode_at(s, n, p, cp, len)) return false;
    return (classes(cp) & unicode::EMOJI_START) != 0;
}

// End of the emoji run whose first starter ends at p.
size_t scan_emoji(const unsigned char* s, size_t n, size_t p) {
    for (;;) {
        // (ZWJ starter)*: U+200D is E2 80 8D.
        while (p + 3 <= n && s[p] == 0xE2 && s[p + 1] == 0x80 && s[p + 2] == 0x8D) {
            size_t len;
            if (!is_starter_at(s, n, p + 3, len)) break;
            p += 3 + len;
        }
        // [VS16 keycap Emoji_Modifier]*
        while (p < n && s[p] >= 0x80) {
            uint32_t cp;
            size_t len;
            if (!decode_at(s, n, p, cp, len)) break;
            if (cp != 0xFE0F && cp != 0x20E3 && !(classes(cp) & unicode::EMOJI_MOD)) break;
            p += len;
        }
        // Another unit glued on, or the run ends.
        size_t len;
        if (!is_starter_at(s, n, p, len)) return p;
        p += len;
    }
}

// End of the word whose first character ends at p: the last letter, number
// or underscore of the following run of those and hyphens.
size_t scan_word(const unsigned char* s, size_t n, size_t p) {
    size_t end = p;
    while (p < n) {
        unsigned char b = s[p];
        if (b < 0x80) {
            if (ASCII_KIND[b] == A_WORD) {
                end = ++p;
            } else if (b == '-') {
                ++p;
            } else {
                break;
            }
        } else {
            uint32_t cp;
            size_t len;
            if (!decode_at(s, n, p, cp, len) || !(classes(cp) & WORD_START)) break;
            p += len;
            end = p;
        }
    }
    return end;
}

// Length of the operator or symbol token at p (an ASCII symbol character).
inline size_t ascii_symbol_len(const unsigned char* s, size_t n, size_t p) {
    if (p + 1 >= n) return 1;
    unsigned char a = s[p], b = s[p + 1];
    switch (a) {
        case '!':
        case '+':
        case '*':
        case '/':
        case '%':
            return b == '=' ? 2 : 1;
        case '=':
            return (b == '=' || b == '>') ? 2 : 1;
        case '<':
            return (b == '=' || b == '<') ? 2 : 1;
        case '>':
            return (b == '=' || b == '>') ? 2 : 1;
        case '-':
            return (b == '=' || b == '>') ? 2 : 1;
        case '&':
            return b == '&' ? 2 : 1;
        case '|':
            return b == '|' ? 2 : 1;
        case ':':
            return (b == ':' || b == '=') ? 2 : 1;
        case '.':
            if (b != '.') return 1;
            return (p + 2 < n && s[p + 2] == '.') ? 3 : 2;
        default:
            return 1;
    }
}

}  // namespace

bool TokenIterator::next(size_t& start, size_t& end) {
    const auto* s = reinterpret_cast<const unsigned char*>(text_.data());
    const size_t n = text_.size();
    size_t p = pos_;
    while (p < n) {
        unsigned char b = s[p];
        if (b < 0x80) {
            uint8_t kind = ASCII_KIND[b];
            if (kind == A_SKIP) {
                ++p;
                continue;
            }
            start = p;
            end = kind == A_WORD ? scan_word(s, n, p + 1) : p + ascii_symbol_len(s, n, p);
            pos_ = end;
            return true;
        }
        uint32_t cp;
        size_t len;
        if (!decode_at(s, n, p, cp, len)) {
            // Broken UTF-8: the byte is a symbol of its own.
            start = p;
            end = pos_ = p + 1;
            return true;
        }
        uint16_t c = classes(cp);
        if (c & unicode::EMOJI_START) {
            end = scan_emoji(s, n, p + len);
        } else if (c & WORD_START) {
            end = scan_word(s, n, p + len);
        } else if (c & (unicode::SPACE | unicode::WORD)) {
            p += len;
            continue;
        } else {
            end = p + len;
        }
        start = p;
        pos_ = end;
        return true;
    }
    pos_ = n;
    return false;
}

std::vector<std::string> token_strings(std::string_view text) {
    std::vector<std::string> out;
    TokenIterator it(text);
    size_t start, end;
    while (it.next(start, end)) out.emplace_back(text.substr(start, end - start));
    return out;
}

}  // namespace vona::core

#include "regex.h"

#include <array>
#include <cstdint>

#include "unicode.h"
#include "utf8.h"

namespace vona::bpe {

namespace {

// The four classes the pattern tells apart. General categories L and N and
// the White_Space property never overlap.
enum Cls : uint8_t { OTHER, LETTER, NUMBER, SPACE };

constexpr Cls of_bits(uint16_t bits) {
    return (bits & unicode::LETTER)   ? LETTER
           : (bits & unicode::NUMBER) ? NUMBER
           : (bits & unicode::SPACE)  ? SPACE
                                      : OTHER;
}

struct AsciiClasses {
    std::array<Cls, 128> cls;
    AsciiClasses() {
        for (int c = 0; c < 128; ++c) cls[c] = of_bits(unicode::ascii_classes(static_cast<unsigned char>(c)));
    }
};

const AsciiClasses& ascii() {
    static const AsciiClasses t;
    return t;
}

// Class and length of the character at p (valid UTF-8).
inline Cls class_at(const unsigned char* p, const AsciiClasses& a, size_t& len) {
    if (*p < 0x80) {
        len = 1;
        return a.cls[*p];
    }
    uint32_t cp = utf8::decode(p, len);
    return of_bits(unicode::classes(cp));
}

// End of the run of characters of class k that starts at i.
inline size_t run_end(const unsigned char* p, size_t i, size_t n, Cls k, const AsciiClasses& a) {
    while (i < n) {
        if (p[i] < 0x80) {
            if (a.cls[p[i]] != k) break;
            ++i;
            continue;
        }
        size_t len;
        if (class_at(p + i, a, len) != k) break;
        i += len;
    }
    return i;
}

}  // namespace

size_t PretokenizeRegex::match_end(std::string_view text, size_t pos) const {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const AsciiClasses& a = ascii();

    // 's 't 're 've 'm 'll 'd: lower-case ASCII only.
    if (p[pos] == '\'' && pos + 1 < n) {
        unsigned char c = p[pos + 1];
        if (c == 's' || c == 't' || c == 'm' || c == 'd') return pos + 2;
        if (pos + 2 < n) {
            unsigned char d = p[pos + 2];
            if ((c == 'r' && d == 'e') || (c == 'v' && d == 'e') || (c == 'l' && d == 'l')) return pos + 3;
        }
    }

    size_t len;
    Cls k = class_at(p + pos, a, len);

    // An optional single U+0020 joins the letter, number or other run after it.
    if (p[pos] == ' ' && pos + 1 < n) {
        size_t len2;
        Cls k2 = class_at(p + pos + 1, a, len2);
        if (k2 != SPACE) return run_end(p, pos + 1 + len2, n, k2, a);
    }
    if (k != SPACE) return run_end(p, pos + len, n, k, a);

    // White space: the whole run at the end of the text; before other text
    // the run less its last character (\s+(?!\S)), and a lone character
    // there is matched by the plain \s+.
    size_t last = pos, i = pos + len;
    while (i < n) {
        size_t l;
        if (class_at(p + i, a, l) != SPACE) break;
        last = i;
        i += l;
    }
    if (i == n) return n;
    return last > pos ? last : i;
}

const PretokenizeRegex& PRETOKENIZE_REGEX() {
    static const PretokenizeRegex scanner;
    return scanner;
}

}  // namespace vona::bpe

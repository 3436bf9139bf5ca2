// Per-code-point class bits from the Unicode 16.0.0 character data.
#pragma once

#include <cstdint>

namespace vona::unicode {

// Keep in step with BITS in tools/gen_unicode_tables.py.
enum : uint16_t {
    LETTER = 1u << 0,        // General_Category L*
    NUMBER = 1u << 1,        // General_Category N*
    MARK = 1u << 2,          // General_Category M*
    DIGIT = 1u << 3,         // General_Category Nd
    CONNECTOR = 1u << 4,     // General_Category Pc
    SPACE = 1u << 5,         // White_Space
    ALPHABETIC = 1u << 6,    // Alphabetic
    JOIN_CONTROL = 1u << 7,  // Join_Control
    EMOJI_START = 1u << 8,   // Emoji_Presentation or Extended_Pictographic
    EMOJI_MOD = 1u << 9,     // Emoji_Modifier
    GRAPHEME_EXT = 1u << 10, // Grapheme_Extend
    PRINTABLE = 1u << 11,    // not Cc Cf Cs Co Cn Zl Zp Zs, except U+0020
    WORD = 1u << 12,         // \w: Alphabetic, Mark, Nd, Pc, Join_Control
};

inline constexpr unsigned BLOCK_SHIFT = 7;
extern const uint16_t STAGE1[0x110000 >> BLOCK_SHIFT];
extern const uint16_t STAGE2[][1u << BLOCK_SHIFT];

// Class bits of a code point; anything above U+10FFFF has none.
inline uint16_t classes(uint32_t cp) {
    if (cp >= 0x110000) return 0;
    return STAGE2[STAGE1[cp >> BLOCK_SHIFT]][cp & ((1u << BLOCK_SHIFT) - 1)];
}

// ASCII code points all live in block 0; callers with a byte < 0x80 can use this.
inline uint16_t ascii_classes(unsigned char c) { return STAGE2[0][c]; }

}  // namespace vona::unicode

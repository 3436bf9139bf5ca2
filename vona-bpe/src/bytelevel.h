// The byte-level alphabet: a fixed one-to-one map between the 256 byte values
// and 256 printable characters (all below U+0144), so that a vocabulary of
// byte strings can be stored as text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vona::bpe {

// The alphabet character of every byte, and its UTF-8 form (one or two bytes).
struct ByteToChar {
    std::array<uint32_t, 256> cp;
    std::array<char, 2> utf8[256];
    std::array<uint8_t, 256> utf8_len;
};

// Alphabet character (code points up to U+0143) to byte; -1 outside the alphabet.
struct CharToByte {
    static constexpr uint32_t LIMIT = 0x144;
    std::array<int16_t, LIMIT> byte;
};

const ByteToChar& BYTE_TO_CHAR();
const CharToByte& CHAR_TO_BYTE();

inline uint32_t byte_to_char(uint8_t b) { return BYTE_TO_CHAR().cp[b]; }
inline std::optional<uint8_t> char_to_byte(uint32_t cp) {
    if (cp >= CharToByte::LIMIT) return std::nullopt;
    int16_t b = CHAR_TO_BYTE().byte[cp];
    if (b < 0) return std::nullopt;
    return static_cast<uint8_t>(b);
}

// Clears out and writes the byte-level string of bytes into it.
void byte_level_encode(std::string_view bytes, std::string& out);
// Alphabet characters back to their bytes; other characters stay as their
// own UTF-8. The input must be valid UTF-8; the result need not be.
void byte_level_decode(std::string_view text, std::string& out);
inline std::string byte_level_decode(std::string_view text) {
    std::string out;
    byte_level_decode(text, out);
    return out;
}

}  // namespace vona::bpe

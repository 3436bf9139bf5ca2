// The word <-> private-use character mapping, and the substitution of mapped
// words before BPE and its reverse after decoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.h"
#include "hash_map.h"

namespace vona::core {

// Two independent maps: word_to_pua serves substitution, pua_to_word the
// reverse. Immutable once built; read by any number of threads.
struct PuaMapping {
    HashMap<std::string, uint32_t> word_to_pua;
    HashMap<uint32_t, std::string> pua_to_word;

    // From (word, code point) entries of a mapping file. Fails with
    // "invalid codepoint U+XXXX for word \"...\"" for a non-scalar value.
    static Result<PuaMapping, std::string> from_codepoints(const std::vector<std::pair<std::string, uint32_t>>& entries);
    // From already checked (word, character) and (character, word) pairs.
    static PuaMapping from_pairs(std::vector<std::pair<std::string, uint32_t>> word_to_char,
                                 std::vector<std::pair<uint32_t, std::string>> char_to_word);

    const uint32_t* pua_for_word(std::string_view word) const {
        return word_to_pua.empty() ? nullptr : word_to_pua.find(word);
    }
    const std::string* word_for_pua(uint32_t cp) const { return pua_to_word.find(cp); }
    bool has_words() const { return !word_to_pua.empty(); }
    bool has_puas() const { return !pua_to_word.empty(); }
};

// U+E000..U+F8FF, U+F0000..U+FFFFD, U+100000..U+10FFFD.
inline bool is_pua(uint32_t cp) {
    return (cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xF0000 && cp <= 0xFFFFD) || (cp >= 0x100000 && cp <= 0x10FFFD);
}

// Mapped tokens and identifier parts replaced by their characters.
std::string pretokenize(std::string_view text, const PuaMapping& mapping);
// The pieces whose concatenation is pretokenize(text, mapping).
std::vector<std::string> split_text(std::string_view text, const PuaMapping& mapping);
// Mapped private-use characters replaced by their words.
std::string reverse_pua(std::string_view text, const PuaMapping& mapping);

}  // namespace vona::core

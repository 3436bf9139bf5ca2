#include <cstdio>

#include "pretok.h"
#include "quote.h"

namespace vona::core {

Result<PuaMapping, std::string> PuaMapping::from_codepoints(
    const std::vector<std::pair<std::string, uint32_t>>& entries) {
    PuaMapping m;
    m.word_to_pua.reserve(entries.size());
    m.pua_to_word.reserve(entries.size());
    for (const auto& [word, cp] : entries) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X", cp);
            std::string msg = "invalid codepoint U+";
            msg += hex;
            msg += " for word ";
            append_quoted(msg, word);
            return msg;
        }
        m.word_to_pua.insert_or_assign(word, cp);
        m.pua_to_word.insert_or_assign(cp, word);
    }
    return m;
}

PuaMapping PuaMapping::from_pairs(std::vector<std::pair<std::string, uint32_t>> word_to_char,
                                  std::vector<std::pair<uint32_t, std::string>> char_to_word) {
    PuaMapping m;
    m.word_to_pua.reserve(word_to_char.size());
    m.pua_to_word.reserve(char_to_word.size());
    for (auto& [word, cp] : word_to_char) m.word_to_pua.insert_or_assign(word, cp);
    for (auto& [cp, word] : char_to_word) m.pua_to_word.insert_or_assign(cp, std::move(word));
    return m;
}

}  // namespace vona::core

// The records of the two tokenizer files, read straight from their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.h"

namespace vona::bpe {

struct AddedTokenJson {
    uint32_t id = 0;
    std::string content;
    bool special = false;
    bool single_word = false;
    bool lstrip = false;
    bool rstrip = false;
    bool normalized = false;
};

struct ModelJson {
    std::string type;                                   // read and dropped
    std::vector<std::pair<std::string, uint32_t>> vocab;  // distinct keys, in order of first
                                                          // appearance; a repeated key keeps its last value
    size_t merges = 0;                                  // pairs validated for shape, not kept
};

struct TokenizerJson {
    std::vector<AddedTokenJson> added_tokens;
    ModelJson model;
};

struct VonaMappingJson {
    std::vector<std::pair<std::string, uint32_t>> word_to_codepoint;  // distinct keys, as vocab
};

// On failure: the reader's description, "... at line L column C" (no file prefix).
Result<TokenizerJson, std::string> parse_tokenizer_json(std::string_view text);
Result<VonaMappingJson, std::string> parse_vona_mapping_json(std::string_view text);

}  // namespace vona::bpe

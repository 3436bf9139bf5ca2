// The loaded BPE model.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "hash_map.h"
#include "pretok.h"
#include "special.h"

namespace vona::bpe {

struct BpeTokenizer {
    std::vector<std::string> id_to_token;             // length vocab_size; "" where no token
    HashMap<std::string, uint32_t> token_to_id;       // vocabulary less special ids
    HashMap<uint32_t, std::string> id_to_added_token;  // every added token
    size_t vocab_size = 0;
    std::optional<SpecialMatcher> special_matcher;    // absent without added tokens
    core::PuaMapping pua_mapping;

    static Result<BpeTokenizer> load(const std::string& tokenizer_path, const std::string& mapping_path);
};

}  // namespace vona::bpe

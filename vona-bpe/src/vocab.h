// The loaded BPE model.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "hash_map.h"
#include "pretok.h"
#include "special.h"

namespace vona::bpe {

struct DerivedTables;  // encoder.h

struct BpeTokenizer {
    std::vector<std::string> id_to_token;             // length vocab_size; "" where no token
    HashMap<std::string, uint32_t> token_to_id;       // vocabulary less special ids
    HashMap<uint32_t, std::string> id_to_added_token;  // every added token
    size_t vocab_size = 0;
    std::optional<SpecialMatcher> special_matcher;    // absent without added tokens
    core::PuaMapping pua_mapping;
    // Merge and decode tables built from the fields above (immutable, shared
    // by copies of the record).
    std::shared_ptr<const DerivedTables> derived;

    static Result<BpeTokenizer> load(const std::string& tokenizer_path, const std::string& mapping_path);
};

// Tables derived from the loaded vocabulary for encoding and decoding,
// filled in at the end of a successful load (defined with the encoder).
void build_derived_tables(BpeTokenizer& t);

// Largest vocab_size a load accepts for a file with n_entries distinct
// tokens: id_to_token is dense, so ids far beyond the number of tokens would
// cost memory for nothing but empty slots.
inline uint64_t max_vocab_size_for(uint64_t n_entries) { return (uint64_t{1} << 20) + 2 * n_entries; }

}  // namespace vona::bpe

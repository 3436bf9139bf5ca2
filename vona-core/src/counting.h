// Token frequency counting of one text: token counts and identifier-part boosts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hash_map.h"

namespace vona::core {

struct TokenCounts {
    HashMap<std::string, uint64_t> counts;  // token -> occurrences
    HashMap<std::string, double> boosts;    // identifier part -> summed weight
};

// Adds the statistics of text to counts.
void count_tokens_into(std::string_view text, TokenCounts& counts, uint64_t max_token_len, double boost_weight);

}  // namespace vona::core

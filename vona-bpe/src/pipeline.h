// Text to token ids: PUA substitution, the split at added tokens,
// pre-tokenization, byte-level mapping and merging.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "vocab.h"

namespace vona::bpe {

std::vector<uint32_t> encode(const BpeTokenizer& t, std::string_view text);

// Appends the ids of a stretch of text that holds no added token. The
// pre-tokenization look-ahead sees the end of the chunk.
void encode_chunk(const BpeTokenizer& t, std::string_view chunk, std::vector<uint32_t>& ids);

}  // namespace vona::bpe

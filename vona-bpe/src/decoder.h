// Token ids back to text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vocab.h"

namespace vona::bpe {

// Ids at or beyond vocab_size are skipped; added tokens give their content
// verbatim, other tokens their bytes; invalid UTF-8 becomes U+FFFD (one per
// maximal invalid subpart); mapped private-use characters become words.
std::string decode(const BpeTokenizer& t, const std::vector<uint32_t>& ids);

}  // namespace vona::bpe

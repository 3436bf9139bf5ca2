// Token counts and identifier-part boosts of one text.
#include "counting.h"

#include <vector>

#include "identifier.h"
#include "tokens.h"
#include "utf8.h"

namespace vona::core {

void count_tokens_into(std::string_view text, TokenCounts& counts, uint64_t max_token_len, double boost_weight) {
    // NaN compares false, so it turns boosting off like zero and negatives.
    const bool boosting = boost_weight > 0.0;
    std::vector<std::string_view> parts;  // reused for every identifier token
    TokenIterator it(text);
    size_t start, end;
    while (it.next(start, end)) {
        std::string_view tok = text.substr(start, end - start);
        // A token has at most as many characters as bytes, so short ones
        // need no character count.
        if (tok.size() > max_token_len && utf8::count_chars(tok) > max_token_len) continue;
        counts.counts[tok] += 1;
        if (!boosting || !is_identifier(tok)) continue;
        parts.clear();
        identifier_parts(tok, parts);
        for (std::string_view p : parts) {
            if (p.size() == tok.size()) continue;  // a part is a substring: same size means the token itself
            counts.boosts[p] += boost_weight;
        }
    }
}

}  // namespace vona::core

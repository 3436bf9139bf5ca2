// TOKEN_PATTERN: the text-analysis definition of a token string, as a
// hand-written linear-time scanner with leftmost-first semantics.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vona::core {

// Walks the matches of the token pattern in a UTF-8 text as half-open byte
// ranges, in increasing order, without allocating.
class TokenIterator {
public:
    explicit TokenIterator(std::string_view text) : text_(text) {}
    // The next match, or false when there is none left.
    bool next(size_t& start, size_t& end);

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// The matched substrings, in order (owned copies).
std::vector<std::string> token_strings(std::string_view text);

}  // namespace vona::core

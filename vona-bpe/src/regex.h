// Pre-tokenization: cuts a chunk of text into the pieces that merging works
// on, with the matches of the GPT-2 pattern
//   's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
// (\s is White_Space). A hand-written scanner with exactly the semantics of
// that pattern under leftmost-first matching: ordered alternatives, greedy
// runs, the look-ahead that leaves the last white-space character of a run
// to the word after it. Linear, allocation-free, no backtracking limit.
#pragma once

#include <cstddef>
#include <string_view>

namespace vona::bpe {

class PretokenizeRegex {
public:
    // End of the match that starts at pos (pos < text.size()). Every
    // character lies in some match, so the leftmost match at or after pos
    // always starts at pos itself.
    size_t match_end(std::string_view text, size_t pos) const;

    // Calls piece(start, end) for every match of text, left to right. The
    // look-ahead sees the end of text, not what follows it in a larger input.
    template <class F>
    void for_each(std::string_view text, F&& piece) const {
        for (size_t pos = 0; pos < text.size();) {
            size_t end = match_end(text, pos);
            piece(pos, end);
            pos = end;
        }
    }
};

// The process-wide scanner (it has no tables of its own to build; the class
// data comes from the shared Unicode tables).
const PretokenizeRegex& PRETOKENIZE_REGEX();

}  // namespace vona::bpe

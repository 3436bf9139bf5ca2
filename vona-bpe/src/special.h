// The added-token matcher: leftmost-longest, exact bytes, non-overlapping.
//
// An Aho-Corasick automaton over the *reversed* patterns, run from the end
// of the text towards its start. Its state after reading text[i..] backwards
// names every pattern that starts at i, and the longest of them is stored
// per state, so one backward pass yields "the longest pattern starting at
// i" for every i. A greedy left-to-right walk over those candidates is then
// exactly leftmost-longest, and the whole search stays linear in the text
// whatever the patterns are (a forward automaton has to re-read the bytes
// after a match when a longer pattern was still pending).
//
// Small pattern sets get a dense DFA over byte classes; large ones keep the
// trie with failure links, which is compact and amortised linear as well.
// A first-byte table (memchr for a single byte) finds where a match could
// start at all, so text without any candidate is passed over quickly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vona::bpe {

struct SpecialMatch {
    size_t start;
    size_t end;
    uint32_t id;
};

class SpecialMatcher {
public:
    // patterns: distinct, non-empty texts; ids[i] is the id of patterns[i].
    // Empty texts are ignored (they would match between every two bytes);
    // for a repeated text the first one is kept.
    static SpecialMatcher build(const std::vector<std::string>& patterns, const std::vector<uint32_t>& ids);

    std::optional<SpecialMatch> find_first(std::string_view text) const;
    // Appends every match, left to right.
    void find_all(std::string_view text, std::vector<SpecialMatch>& out) const;

    std::vector<uint32_t> special_ids;

    // Whether the dense automaton is in use (exposed for tests of both forms).
    bool is_dense() const { return !dense_.empty(); }

private:
    static constexpr uint32_t ROOT = 0;

    // Position of the first byte that can start a pattern, or npos.
    size_t first_candidate(std::string_view text) const;
    // The backward pass over text[lo, n): calls emit(start, state) for every
    // start position (in decreasing order) where some pattern begins.
    template <class Emit>
    void scan_backward(std::string_view text, size_t lo, Emit&& emit) const;
    uint32_t step(uint32_t state, unsigned char byte) const;

    // Per state: length and index of the longest pattern that the state's
    // reversed text ends with (that is, starts at the current position);
    // length 0 when none.
    std::vector<uint32_t> out_len_;
    std::vector<uint32_t> out_pattern_;

    // Dense form: dense_[state * class_count_ + byte_class_[b]].
    std::array<uint16_t, 256> byte_class_{};
    uint32_t class_count_ = 0;
    std::vector<uint32_t> dense_;

    // Sparse form: the reversed trie's edges (sorted by byte within a state)
    // and failure links, with a full table for the root.
    std::vector<uint32_t> edge_begin_;  // state -> first edge; size states+1
    std::vector<unsigned char> edge_byte_;
    std::vector<uint32_t> edge_target_;
    std::vector<uint32_t> fail_;
    std::array<uint32_t, 256> root_next_{};

    std::array<bool, 256> first_byte_{};  // bytes that begin a pattern
    std::array<bool, 256> last_byte_{};   // bytes that end a pattern
    int only_first_byte_ = -1;            // the single first byte, if there is one
    int only_last_byte_ = -1;             // the single last byte, if there is one
};

}  // namespace vona::bpe

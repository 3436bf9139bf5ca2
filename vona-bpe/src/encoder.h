// BPE merging of one pre-token into token ids.
//
// The result is defined by the plain loop: the initial symbols are the bytes
// of the byte-level string; the rank of two neighbours is the id of their
// concatenation in token_to_id (no rank when it is not a token); the lowest
// rank merges first, the leftmost of equal ranks; the neighbours of a merge
// are re-ranked; at the end every symbol gives its id.
//
// The tables below compute exactly that result faster:
// - symbols are numbers, not byte ranges: every symbol the loop can ever
//   hold is a single byte or a token (a merge only happens when the
//   concatenation is a token), so each vocabulary string gets a symbol and
//   each byte without a token a "raw" symbol; the pair table holds every
//   (left, right) whose concatenation is a token, found by splitting every
//   token at every byte;
// - the bytes of a two-byte alphabet character can never merge with
//   anything but each other (any other concatenation holding half a
//   character is not valid UTF-8, so not a token). When every such
//   character is a token with an id below the id of every token of two or
//   more characters, the loop merges all of them before anything else, and
//   a piece may start from whole characters. Checked at load;
// - a piece whose raw bytes are those of a vocabulary token that merges
//   into itself gives that token's id; the merge was run at load;
// - short pieces use the flat scan of the loop, long ones a heap of
//   (rank, position) over a linked list, which picks the same pair each
//   time (lowest rank, then leftmost) and is O(n log n).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hash_map.h"
#include "vocab.h"

namespace vona::bpe {

inline constexpr uint32_t NO_MERGE = 0xFFFFFFFFu;

// (left symbol, right symbol) -> the merged symbol and the merge's rank.
class PairTable {
public:
    struct Hit {
        uint32_t merged;
        uint32_t rank;  // NO_MERGE when the pair is not a token
    };

    void reserve(size_t n);
    void insert(uint32_t left, uint32_t right, uint32_t merged, uint32_t rank);
    Hit find(uint32_t left, uint32_t right) const {
        uint64_t key = pack(left, right);
        for (size_t i = slot_of(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.key == key) return {s.merged, s.rank};
            if (s.key == EMPTY) return {0, NO_MERGE};
        }
    }
    size_t size() const { return size_; }

private:
    static constexpr uint64_t EMPTY = ~uint64_t{0};
    struct Slot {
        uint64_t key;
        uint32_t merged;
        uint32_t rank;
    };
    static uint64_t pack(uint32_t l, uint32_t r) { return (uint64_t{l} << 32) | r; }
    size_t slot_of(uint64_t key) const {
        // An empty table has one slot (shift 64): shifting a 64-bit value by
        // 64 is undefined, so that case answers slot 0 directly.
        if (shift_ >= 64) return 0;
        key ^= key >> 31;
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    void grow();

    std::vector<Slot> slots_ = std::vector<Slot>(1, Slot{EMPTY, 0, 0});
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t size_ = 0;
};

struct DerivedTables {
    // Symbols: 0 .. raw_base-1 are the vocabulary strings (in id order),
    // raw_base + b the byte b when it is not a token itself.
    uint32_t raw_base = 0;
    std::vector<uint32_t> sym_id;  // token id of each vocabulary symbol
    PairTable pairs;
    std::array<uint32_t, 256> byte_sym{};  // symbol of the one-byte string b

    // Pieces start from whole alphabet characters (see above).
    bool whole_chars = false;
    std::array<uint32_t, 256> char_sym{};  // symbol of the alphabet character of byte b

    // Raw bytes of a token that merges into itself -> its id.
    HashMap<std::string, uint32_t> piece_id;

    // Decoding: the bytes of every id (added tokens: their content; others:
    // the byte-level string decoded), id i at [decoded_end[i-1], decoded_end[i]).
    std::string decoded;
    std::vector<uint32_t> decoded_end;
};

// The tables of a loaded tokenizer (an internal failure when it has none).
const DerivedTables& tables(const BpeTokenizer& t);

// Appends the ids of a byte-level piece.
void merge_piece(std::string_view piece, const BpeTokenizer& t, std::vector<uint32_t>& ids);

// Appends the ids of a pre-token given as raw text bytes: the same ids as
// merge_piece on its byte-level string. scratch holds that string when the
// tables need it.
void encode_piece(std::string_view raw, const DerivedTables& d, std::vector<uint32_t>& ids, std::string& scratch);

}  // namespace vona::bpe

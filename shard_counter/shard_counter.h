// Token frequencies of a corpus of gzip-compressed JSON-lines shards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "counting.h"
#include "error.h"
#include "hash_map.h"

namespace vona::shard {

using FinalCounts = HashMap<std::string, uint64_t>;

// Counts every "text" of one shard. Failures: a NUL in the path (invalid
// input), open/read errors (os), gzip faults, a line that is not UTF-8 or not
// one JSON value (invalid data). The file is closed on every path.
Result<core::TokenCounts> count_shard(const std::string& path, uint64_t max_token_len, double boost_weight);

// A summed boost as a whole count: nearest integer, halves away from zero,
// saturated to u64 (NaN and negatives give 0).
uint64_t boost_to_count(double boost);

// Folds shard results into the final table. Shards must be added in the
// order of the shard list: the boosts are floating-point sums, and that order
// of additions is what makes the result reproducible.
class ShardMerge {
public:
    void add(core::TokenCounts&& shard);
    // Turns the summed boosts into counts and adds them; the merge is spent.
    FinalCounts finish();

private:
    bool first_ = true;
    FinalCounts counts_;
    HashMap<std::string, double> boosts_;
};

// The final table of shard results given in shard order.
FinalCounts merge_shard_counts(std::vector<core::TokenCounts> results);

// Counts all shards on the worker pool and merges them in the order of
// paths. Any shard failure fails the whole call with the first error that
// was recorded; no partial table is returned.
Result<FinalCounts> count_frequencies(const std::vector<std::string>& paths, double boost_weight,
                                      uint64_t max_token_len);

}  // namespace vona::shard

// The added-token matcher: leftmost-longest, exact bytes, non-overlapping.
#pragma once

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
    static SpecialMatcher build(const std::vector<std::string>& patterns, const std::vector<uint32_t>& ids);

    std::optional<SpecialMatch> find_first(std::string_view text) const;
    // Appends every match, left to right.
    void find_all(std::string_view text, std::vector<SpecialMatch>& out) const;

    std::vector<uint32_t> special_ids;

private:
    // automaton representation: the implementer's
};

}  // namespace vona::bpe

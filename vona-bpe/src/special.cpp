#include "special.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "error.h"

namespace vona::bpe {
namespace {

// Up to this many patterns (and this many table entries) the automaton is a
// dense DFA: one load per byte. Beyond, the sparse trie saves the memory.
constexpr size_t DENSE_MAX_PATTERNS = 100;
constexpr size_t DENSE_MAX_ENTRIES = size_t{1} << 20;

// State numbers are 32 bits; keep one value spare.
constexpr size_t MAX_STATES = std::numeric_limits<uint32_t>::max() - 1;

struct TrieNode {
    std::vector<std::pair<unsigned char, uint32_t>> children;  // sorted by byte
    uint32_t pattern = 0;                                       // index + 1 of the pattern ending here
    uint32_t depth = 0;
};

uint32_t child_of(const std::vector<TrieNode>& nodes, uint32_t node, unsigned char b) {
    const auto& ch = nodes[node].children;
    auto it = std::lower_bound(ch.begin(), ch.end(), b, [](const auto& e, unsigned char x) { return e.first < x; });
    return it != ch.end() && it->first == b ? it->second : 0;  // 0 (the root) is never a child
}

}  // namespace

SpecialMatcher SpecialMatcher::build(const std::vector<std::string>& patterns, const std::vector<uint32_t>& ids) {
    if (ids.size() != patterns.size()) VONA_FAIL("special-tokens AC build: pattern and id lists differ in length");
    if (patterns.size() >= std::numeric_limits<uint32_t>::max())
        VONA_FAIL("special-tokens AC build: pattern ID overflow (too many patterns)");

    SpecialMatcher m;
    m.special_ids = ids;

    size_t total = 1;
    for (const auto& p : patterns) {
        total += p.size();
        if (total > MAX_STATES)
            VONA_FAIL("special-tokens AC build: state ID overflow (patterns hold more than " +
                      std::to_string(MAX_STATES) + " bytes)");
    }

    // The trie of the reversed patterns.
    std::vector<TrieNode> nodes(1);
    nodes.reserve(total);
    for (size_t i = 0; i < patterns.size(); ++i) {
        const std::string& p = patterns[i];
        if (p.empty()) continue;
        m.first_byte_[static_cast<unsigned char>(p.front())] = true;
        m.last_byte_[static_cast<unsigned char>(p.back())] = true;
        uint32_t node = ROOT;
        for (size_t k = p.size(); k-- > 0;) {
            unsigned char b = static_cast<unsigned char>(p[k]);
            uint32_t next = child_of(nodes, node, b);
            if (next == 0) {
                next = static_cast<uint32_t>(nodes.size());
                TrieNode fresh;
                fresh.depth = nodes[node].depth + 1;
                nodes.push_back(std::move(fresh));
                auto& ch = nodes[node].children;
                auto it = std::lower_bound(ch.begin(), ch.end(), b,
                                           [](const auto& e, unsigned char x) { return e.first < x; });
                ch.insert(it, {b, next});
            }
            node = next;
        }
        if (nodes[node].pattern == 0) nodes[node].pattern = static_cast<uint32_t>(i + 1);
    }
    const size_t states = nodes.size();

    int firsts = 0, lasts = 0;
    for (int b = 0; b < 256; ++b) {
        if (m.first_byte_[b]) {
            ++firsts;
            m.only_first_byte_ = b;
        }
        if (m.last_byte_[b]) {
            ++lasts;
            m.only_last_byte_ = b;
        }
    }
    if (firsts != 1) m.only_first_byte_ = -1;
    if (lasts != 1) m.only_last_byte_ = -1;

    // Failure links and outputs in breadth-first order, so that a state's
    // failure target (which is shallower) is finished before the state.
    std::vector<uint32_t> order;
    order.reserve(states);
    order.push_back(ROOT);
    m.fail_.assign(states, ROOT);
    m.out_len_.assign(states, 0);
    m.out_pattern_.assign(states, 0);
    for (size_t q = 0; q < order.size(); ++q) {
        uint32_t u = order[q];
        for (auto [b, v] : nodes[u].children) {
            order.push_back(v);
            if (u != ROOT) {
                uint32_t f = m.fail_[u];
                for (;;) {
                    uint32_t t = child_of(nodes, f, b);
                    if (t != 0) {
                        m.fail_[v] = t;
                        break;
                    }
                    if (f == ROOT) break;
                    f = m.fail_[f];
                }
            }
            // The state's own pattern is the longest one it can report.
            if (nodes[v].pattern) {
                m.out_len_[v] = nodes[v].depth;
                m.out_pattern_[v] = nodes[v].pattern - 1;
            } else {
                m.out_len_[v] = m.out_len_[m.fail_[v]];
                m.out_pattern_[v] = m.out_pattern_[m.fail_[v]];
            }
        }
    }

    for (int b = 0; b < 256; ++b) m.root_next_[b] = child_of(nodes, ROOT, static_cast<unsigned char>(b));

    // Byte classes: every byte that occurs in a pattern is its own class,
    // all other bytes share class 0 (they always lead back to the root).
    std::array<bool, 256> used{};
    for (const auto& p : patterns)
        for (unsigned char c : p) used[c] = true;
    uint32_t classes = 1;
    for (int b = 0; b < 256; ++b) m.byte_class_[b] = used[b] ? static_cast<uint16_t>(classes++) : 0;
    m.class_count_ = classes;

    if (patterns.size() <= DENSE_MAX_PATTERNS && states * classes <= DENSE_MAX_ENTRIES) {
        m.dense_.assign(states * classes, ROOT);
        std::array<unsigned char, 257> class_byte{};
        for (int b = 0; b < 256; ++b)
            if (m.byte_class_[b]) class_byte[m.byte_class_[b]] = static_cast<unsigned char>(b);
        for (uint32_t u : order) {
            uint32_t* row = &m.dense_[size_t{u} * classes];
            for (uint32_t c = 1; c < classes; ++c) {
                uint32_t t = child_of(nodes, u, class_byte[c]);
                if (t == 0 && u != ROOT) t = m.dense_[size_t{m.fail_[u]} * classes + c];
                row[c] = t;
            }
        }
        m.fail_.clear();
        m.fail_.shrink_to_fit();
    } else {
        m.edge_begin_.resize(states + 1);
        size_t edges = 0;
        for (const auto& n : nodes) edges += n.children.size();
        m.edge_byte_.reserve(edges);
        m.edge_target_.reserve(edges);
        for (size_t u = 0; u < states; ++u) {
            m.edge_begin_[u] = static_cast<uint32_t>(m.edge_byte_.size());
            for (auto [b, v] : nodes[u].children) {
                m.edge_byte_.push_back(b);
                m.edge_target_.push_back(v);
            }
        }
        m.edge_begin_[states] = static_cast<uint32_t>(m.edge_byte_.size());
    }
    return m;
}

inline uint32_t SpecialMatcher::step(uint32_t state, unsigned char byte) const {
    if (!dense_.empty()) return dense_[size_t{state} * class_count_ + byte_class_[byte]];
    for (uint32_t s = state;; s = fail_[s]) {
        if (s == ROOT) return root_next_[byte];
        for (uint32_t e = edge_begin_[s], end = edge_begin_[s + 1]; e < end; ++e) {
            if (edge_byte_[e] == byte) return edge_target_[e];
            if (edge_byte_[e] > byte) break;
        }
    }
}

size_t SpecialMatcher::first_candidate(std::string_view text) const {
    if (out_len_.size() <= 1) return std::string_view::npos;  // no patterns at all
    if (only_first_byte_ >= 0) {
        const void* q = std::memchr(text.data(), only_first_byte_, text.size());
        return q ? static_cast<size_t>(static_cast<const char*>(q) - text.data()) : std::string_view::npos;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size(); ++i)
        if (first_byte_[p[i]]) return i;
    return std::string_view::npos;
}

template <class Emit>
void SpecialMatcher::scan_backward(std::string_view text, size_t lo, Emit&& emit) const {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = text.size();
    uint32_t s = ROOT;
    while (i > lo) {
        if (s == ROOT) {
            // From the root only a byte that ends some pattern leads anywhere.
            if (only_last_byte_ >= 0) {
                const void* q = memrchr(p + lo, only_last_byte_, i - lo);
                if (!q) return;
                i = static_cast<size_t>(static_cast<const unsigned char*>(q) - p) + 1;
            } else {
                while (i > lo && !last_byte_[p[i - 1]]) --i;
                if (i == lo) return;
            }
        }
        --i;
        s = step(s, p[i]);
        if (out_len_[s]) emit(i, s);
    }
}

std::optional<SpecialMatch> SpecialMatcher::find_first(std::string_view text) const {
    size_t lo = first_candidate(text);
    if (lo == std::string_view::npos) return std::nullopt;
    std::optional<SpecialMatch> best;
    // The last start reported by the backward pass is the leftmost one.
    scan_backward(text, lo, [&](size_t start, uint32_t s) {
        best = SpecialMatch{start, start + out_len_[s], special_ids[out_pattern_[s]]};
    });
    return best;
}

void SpecialMatcher::find_all(std::string_view text, std::vector<SpecialMatch>& out) const {
    size_t lo = first_candidate(text);
    if (lo == std::string_view::npos) return;
    const size_t base = out.size();
    scan_backward(text, lo, [&](size_t start, uint32_t s) {
        out.push_back(SpecialMatch{start, start + out_len_[s], special_ids[out_pattern_[s]]});
    });
    // Candidates came from right to left: turn them round, then keep the
    // greedy non-overlapping choice (each is already the longest at its start).
    std::reverse(out.begin() + static_cast<std::ptrdiff_t>(base), out.end());
    size_t w = base;
    size_t resume = 0;
    for (size_t k = base; k < out.size(); ++k) {
        if (out[k].start < resume) continue;
        resume = out[k].end;
        out[w++] = out[k];
    }
    out.resize(w);
}

}  // namespace vona::bpe

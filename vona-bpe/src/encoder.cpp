#include "encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "bytelevel.h"
#include "error.h"
#include "utf8.h"

namespace vona::bpe {

// ---- Pair table -------------------------------------------------------

void PairTable::reserve(size_t n) {
    while ((size_ + n) * 2 > slots_.size()) grow();
}

void PairTable::grow() {
    std::vector<Slot> old(slots_.size() * 2, Slot{EMPTY, 0, 0});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    --shift_;
    for (const Slot& s : old) {
        if (s.key == EMPTY) continue;
        size_t i = slot_of(s.key);
        while (slots_[i].key != EMPTY) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

void PairTable::insert(uint32_t left, uint32_t right, uint32_t merged, uint32_t rank) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    uint64_t key = pack(left, right);
    size_t i = slot_of(key);
    while (slots_[i].key != EMPTY && slots_[i].key != key) i = (i + 1) & mask_;
    if (slots_[i].key == EMPTY) ++size_;
    slots_[i] = Slot{key, merged, rank};
}

// ---- Merging ----------------------------------------------------------

namespace {

// Pieces up to this many initial symbols use the flat scan.
constexpr size_t SMALL = 64;

[[noreturn]] void missing_single_byte(unsigned char b) {
    char text[48];
    std::snprintf(text, sizeof text, "single byte 0x%02X missing from vocab", b);
    VONA_FAIL(text);
}

// Appends the id of every symbol; false when a byte without a token is left.
inline bool emit(const DerivedTables& d, const uint32_t* sym, size_t m, std::vector<uint32_t>& ids) {
    for (size_t i = 0; i < m; ++i) {
        if (sym[i] >= d.raw_base) return false;
        ids.push_back(d.sym_id[sym[i]]);
    }
    return true;
}

// The loop itself on a short list: sym[0..m) are the symbols, rank[i] and
// merged[i] describe the pair (i, i+1).
bool merge_small(const DerivedTables& d, uint32_t* sym, size_t m, std::vector<uint32_t>& ids) {
    uint32_t rank[SMALL], merged[SMALL];
    for (size_t i = 0; i + 1 < m; ++i) {
        auto h = d.pairs.find(sym[i], sym[i + 1]);
        rank[i] = h.rank;
        merged[i] = h.merged;
    }
    while (m > 1) {
        uint32_t best = NO_MERGE;
        size_t b = 0;
        for (size_t i = 0; i + 1 < m; ++i)
            if (rank[i] < best) {
                best = rank[i];
                b = i;
            }
        if (best == NO_MERGE) break;
        sym[b] = merged[b];
        std::memmove(sym + b + 1, sym + b + 2, (m - b - 2) * sizeof(uint32_t));
        if (m >= b + 3) {
            std::memmove(rank + b + 1, rank + b + 2, (m - b - 3) * sizeof(uint32_t));
            std::memmove(merged + b + 1, merged + b + 2, (m - b - 3) * sizeof(uint32_t));
        }
        --m;
        if (b + 1 < m) {
            auto h = d.pairs.find(sym[b], sym[b + 1]);
            rank[b] = h.rank;
            merged[b] = h.merged;
        }
        if (b > 0) {
            auto h = d.pairs.find(sym[b - 1], sym[b]);
            rank[b - 1] = h.rank;
            merged[b - 1] = h.merged;
        }
    }
    return emit(d, sym, m, ids);
}

// The same choices on a long list: a min-heap of (rank, position) with
// entries that no longer match their pair skipped. Positions are the
// indices of the initial symbols; a merge keeps the left one, so position
// order is list order and the smallest key is the loop's choice.
bool merge_large(const DerivedTables& d, const uint32_t* init, size_t m, std::vector<uint32_t>& ids) {
    constexpr uint32_t NONE = 0xFFFFFFFFu;
    std::vector<uint32_t> sym(init, init + m), rank(m, NO_MERGE), merged(m, 0), next(m), prev(m);
    std::vector<uint64_t> heap;
    heap.reserve(m);
    for (size_t i = 0; i < m; ++i) {
        next[i] = static_cast<uint32_t>(i + 1);
        prev[i] = i == 0 ? NONE : static_cast<uint32_t>(i - 1);
    }
    for (size_t i = 0; i + 1 < m; ++i) {
        auto h = d.pairs.find(sym[i], sym[i + 1]);
        rank[i] = h.rank;
        merged[i] = h.merged;
        if (h.rank != NO_MERGE) heap.push_back((uint64_t{h.rank} << 32) | i);
    }
    auto later = std::greater<uint64_t>();
    std::make_heap(heap.begin(), heap.end(), later);
    auto rerank = [&](uint32_t i) {
        uint32_t j = next[i];
        if (j >= m) {
            rank[i] = NO_MERGE;
            return;
        }
        auto h = d.pairs.find(sym[i], sym[j]);
        rank[i] = h.rank;
        merged[i] = h.merged;
        if (h.rank != NO_MERGE) {
            heap.push_back((uint64_t{h.rank} << 32) | i);
            std::push_heap(heap.begin(), heap.end(), later);
        }
    };
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        uint64_t e = heap.back();
        heap.pop_back();
        uint32_t r = static_cast<uint32_t>(e >> 32), i = static_cast<uint32_t>(e);
        if (rank[i] != r) continue;  // stale: the pair changed or the symbol went
        uint32_t j = next[i];
        sym[i] = merged[i];
        next[i] = next[j];
        if (next[j] < m) prev[next[j]] = i;
        rank[j] = NO_MERGE;
        rerank(i);
        if (prev[i] != NONE) rerank(prev[i]);
    }
    std::vector<uint32_t> out;
    out.reserve(m);
    for (uint32_t i = 0; i < m; i = next[i]) out.push_back(sym[i]);
    return emit(d, out.data(), out.size(), ids);
}

// merge_piece without the final failure, for the load-time runs.
enum class Merge { Ok, MissingSingle, MissingByte };

Merge try_merge_piece(std::string_view piece, const DerivedTables& d, std::vector<uint32_t>& ids) {
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    size_t n = piece.size();
    if (n == 0) return Merge::Ok;
    if (n == 1) {
        uint32_t s = d.byte_sym[p[0]];
        if (s >= d.raw_base) return Merge::MissingSingle;
        ids.push_back(d.sym_id[s]);
        return Merge::Ok;
    }
    if (n <= SMALL) {
        uint32_t sym[SMALL];
        for (size_t i = 0; i < n; ++i) sym[i] = d.byte_sym[p[i]];
        return merge_small(d, sym, n, ids) ? Merge::Ok : Merge::MissingByte;
    }
    std::vector<uint32_t> sym(n);
    for (size_t i = 0; i < n; ++i) sym[i] = d.byte_sym[p[i]];
    return merge_large(d, sym.data(), n, ids) ? Merge::Ok : Merge::MissingByte;
}

void merge_piece_with(std::string_view piece, const DerivedTables& d, std::vector<uint32_t>& ids) {
    switch (try_merge_piece(piece, d, ids)) {
        case Merge::Ok:
            return;
        case Merge::MissingSingle:
            missing_single_byte(static_cast<unsigned char>(piece[0]));
        case Merge::MissingByte:
            VONA_FAIL("byte in alphabet");
    }
}

}  // namespace

const DerivedTables& tables(const BpeTokenizer& t) {
    if (!t.derived) VONA_FAIL("tokenizer has no merge tables");
    return *t.derived;
}

void merge_piece(std::string_view piece, const BpeTokenizer& t, std::vector<uint32_t>& ids) {
    merge_piece_with(piece, tables(t), ids);
}

void encode_piece(std::string_view raw, const DerivedTables& d, std::vector<uint32_t>& ids, std::string& scratch) {
    if (const uint32_t* id = d.piece_id.find(raw)) {
        ids.push_back(*id);
        return;
    }
    size_t n = raw.size();
    if (d.whole_chars && n > 1) {
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        if (n <= SMALL) {
            uint32_t sym[SMALL];
            for (size_t i = 0; i < n; ++i) sym[i] = d.char_sym[p[i]];
            if (!merge_small(d, sym, n, ids)) VONA_FAIL("byte in alphabet");
        } else {
            std::vector<uint32_t> sym(n);
            for (size_t i = 0; i < n; ++i) sym[i] = d.char_sym[p[i]];
            if (!merge_large(d, sym.data(), n, ids)) VONA_FAIL("byte in alphabet");
        }
        return;
    }
    byte_level_encode(raw, scratch);
    merge_piece_with(scratch, d, ids);
}

// ---- Building the tables ----------------------------------------------

void build_derived_tables(BpeTokenizer& t) {
    auto d = std::make_shared<DerivedTables>();

    // Vocabulary symbols in id order (ties by text, so the numbering does
    // not depend on the map's iteration order).
    std::vector<std::pair<uint32_t, const std::string*>> entries;
    entries.reserve(t.token_to_id.size());
    t.token_to_id.for_each([&](const std::string& s, uint32_t id) { entries.emplace_back(id, &s); });
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first != b.first ? a.first < b.first : *a.second < *b.second; });
    if (entries.size() > 0xFFFFFF00u) VONA_FAIL("vocabulary too large for merge symbols");
    d->raw_base = static_cast<uint32_t>(entries.size());
    d->sym_id.reserve(entries.size());
    HashMap<std::string, uint32_t> sym_of(entries.size());
    for (uint32_t s = 0; s < entries.size(); ++s) {
        d->sym_id.push_back(entries[s].first);
        sym_of.insert_or_assign(*entries[s].second, s);
    }
    auto symbol = [&](std::string_view s) -> uint32_t {
        if (const uint32_t* v = sym_of.find(s)) return *v;
        if (s.size() == 1) return d->raw_base + static_cast<unsigned char>(s[0]);
        return NO_MERGE;
    };
    for (int b = 0; b < 256; ++b) {
        char c = static_cast<char>(b);
        d->byte_sym[b] = symbol(std::string_view(&c, 1));
    }

    // Every way the loop can build a token from two symbols.
    for (uint32_t s = 0; s < entries.size(); ++s) {
        std::string_view tok = *entries[s].second;
        for (size_t k = 1; k < tok.size(); ++k) {
            uint32_t l = symbol(tok.substr(0, k));
            if (l == NO_MERGE) continue;
            uint32_t r = symbol(tok.substr(k));
            if (r == NO_MERGE) continue;
            d->pairs.insert(l, r, s, entries[s].first);
        }
    }

    // Whole characters first, when the ids allow it.
    const ByteToChar& b2c = BYTE_TO_CHAR();
    bool all_chars = true;
    uint64_t max_char_id = 0;
    for (int b = 0; b < 256; ++b) {
        std::string_view ch(b2c.utf8[b].data(), b2c.utf8_len[b]);
        uint32_t s = symbol(ch);
        d->char_sym[b] = s;
        if (b2c.utf8_len[b] == 2) {
            if (s == NO_MERGE || s >= d->raw_base) {
                all_chars = false;
            } else {
                max_char_id = std::max<uint64_t>(max_char_id, d->sym_id[s]);
            }
        }
    }
    uint64_t min_multi_id = uint64_t{1} << 32;
    for (const auto& [id, s] : entries)
        if (utf8::count_chars(*s) >= 2) min_multi_id = std::min<uint64_t>(min_multi_id, id);
    d->whole_chars = all_chars && max_char_id < min_multi_id;

    // Tokens whose own merge gives them back, by their raw bytes.
    {
        const CharToByte& c2b = CHAR_TO_BYTE();
        std::vector<uint32_t> ids;
        std::string raw;
        d->piece_id.reserve(entries.size());
        for (const auto& [id, s] : entries) {
            raw.clear();
            bool alphabet = true;
            const auto* p = reinterpret_cast<const unsigned char*>(s->data());
            for (size_t i = 0; i < s->size() && alphabet;) {
                size_t len;
                uint32_t cp = utf8::decode(p + i, len);
                if (cp < CharToByte::LIMIT && c2b.byte[cp] >= 0)
                    raw.push_back(static_cast<char>(c2b.byte[cp]));
                else
                    alphabet = false;
                i += len;
            }
            if (!alphabet || raw.empty()) continue;
            ids.clear();
            if (try_merge_piece(*s, *d, ids) == Merge::Ok && ids.size() == 1) d->piece_id.insert_or_assign(raw, ids[0]);
        }
    }

    // Decoding: the bytes of every id.
    {
        std::string bytes;
        d->decoded_end.reserve(t.id_to_token.size());
        for (size_t id = 0; id < t.id_to_token.size(); ++id) {
            if (const std::string* added = t.id_to_added_token.find(static_cast<uint32_t>(id))) {
                d->decoded += *added;
            } else {
                byte_level_decode(t.id_to_token[id], bytes);
                d->decoded += bytes;
            }
            if (d->decoded.size() > 0xFFFFFFFFu) VONA_FAIL("decoded vocabulary exceeds 4 GiB");
            d->decoded_end.push_back(static_cast<uint32_t>(d->decoded.size()));
        }
        d->decoded.shrink_to_fit();
    }

    t.derived = std::move(d);
}

}  // namespace vona::bpe

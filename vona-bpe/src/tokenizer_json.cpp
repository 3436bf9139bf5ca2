#include "tokenizer_json.h"

#include <cstring>

#include "hash_map.h"
#include "json_reader.h"

namespace vona::bpe {

namespace {

using json::Reader;

constexpr size_t NOT_FOUND = static_cast<size_t>(-1);

size_t field_index(const char* const* names, size_t count, const std::string& key) {
    for (size_t i = 0; i < count; ++i)
        if (key.size() == std::strlen(names[i]) && std::memcmp(key.data(), names[i], key.size()) == 0) return i;
    return NOT_FOUND;
}

// The members of a record written as an object ('{' consumed). Fields may
// come in any order; unknown keys are skipped with their values; the first
// `required` fields must be present. field(i) reads the value of field i.
template <class F>
bool struct_members(Reader& r, std::string& key, const char* const* names, size_t count, size_t required, F&& field) {
    bool seen[8] = {};
    bool ok = [&] {
        bool first = true, more = true;
        for (;;) {
            if (!r.next_key(first, more, key)) return false;
            if (!more) break;
            size_t i = field_index(names, count, key);
            if (i == NOT_FOUND) {
                if (!r.colon() || !r.skip_value()) return false;
                continue;
            }
            if (seen[i]) return r.fail_unplaced("duplicate field `" + key + "`");
            seen[i] = true;
            if (!r.colon() || !field(i)) return false;
        }
        for (size_t i = 0; i < required; ++i)
            if (!seen[i]) return r.fail_unplaced(std::string("missing field `") + names[i] + "`");
        return true;
    }();
    if (!ok) return r.fault_unplaced() ? r.place_fault('}') : false;
    return r.end_object();
}

// The values of a record written as an array ('[' consumed), in
// declaration order; the fields after the first `required` may be left off.
template <class F>
bool struct_elements(Reader& r, size_t count, size_t required, const char* expected, F&& field) {
    bool ok = [&] {
        bool first = true, more = true;
        for (size_t i = 0; i < count; ++i) {
            if (!r.next_element(first, more)) return false;
            if (!more) {
                if (i < required)
                    return r.fail_unplaced("invalid length " + std::to_string(i) + ", expected " + expected);
                break;
            }
            if (!field(i)) return false;
        }
        return true;
    }();
    if (!ok) return r.fault_unplaced() ? r.place_fault(']') : false;
    return r.end_array();
}

// A record in either form. name: "struct X"; with_len: "struct X with N elements".
template <class F>
bool parse_struct(Reader& r, std::string& key, const char* name, const char* with_len, const char* const* names,
                  size_t count, size_t required, F&& field) {
    int c;
    if (!r.value_start(c)) return false;
    if (c == '{') {
        r.bump();
        return struct_members(r, key, names, count, required, field);
    }
    if (c == '[') {
        r.bump();
        return struct_elements(r, count, required, with_len, field);
    }
    return r.invalid_type(c, name);
}

// An array whose elements are read by element().
template <class F>
bool parse_sequence(Reader& r, F&& element) {
    int c;
    if (!r.value_start(c)) return false;
    if (c != '[') return r.invalid_type(c, "a sequence");
    r.bump();
    bool first = true, more = true;
    for (;;) {
        if (!r.next_element(first, more)) return false;
        if (!more) break;
        if (!element()) return false;
    }
    return r.end_array();
}

// Finds repeated keys among the entries of a map being read: an open
// addressing table of entry indices, so that no key is copied.
class KeyIndex {
public:
    explicit KeyIndex(const std::vector<std::pair<std::string, uint32_t>>& entries)
        : entries_(entries), seed_(random_seed()) {}

    // The index of the entry with this key, or NOT_FOUND after recording
    // that it will be entries.size() (the caller appends it).
    size_t find_or_add(const std::string& key) {
        if ((count_ + 1) * 4 > slots_.size() * 3) grow();
        uint64_t h = hash_bytes(key.data(), key.size(), seed_);
        uint32_t tag = static_cast<uint32_t>(h >> 32);
        size_t mask = slots_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.index == 0) {
                s = {static_cast<uint32_t>(entries_.size() + 1), tag};
                ++count_;
                return NOT_FOUND;
            }
            if (s.tag == tag && entries_[s.index - 1].first == key) return s.index - 1;
        }
    }

private:
    struct Slot {
        uint32_t index;  // entry index + 1; 0 marks a free slot
        uint32_t tag;
    };

    void grow() {
        std::vector<Slot> old(slots_.empty() ? 1024 : slots_.size() * 2, Slot{0, 0});
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.index == 0) continue;
            const std::string& k = entries_[s.index - 1].first;
            uint64_t h = hash_bytes(k.data(), k.size(), seed_);
            size_t i = h & mask;
            while (slots_[i].index != 0) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    const std::vector<std::pair<std::string, uint32_t>>& entries_;
    uint64_t seed_;
    std::vector<Slot> slots_;
    size_t count_ = 0;
};

// An object from strings to u32. A repeated key keeps its first place and
// its last value, so the entries hold each key once.
bool parse_u32_map(Reader& r, std::vector<std::pair<std::string, uint32_t>>& entries) {
    int c;
    if (!r.value_start(c)) return false;
    if (c != '{') return r.invalid_type(c, "a map");
    r.bump();
    KeyIndex index(entries);
    std::string key;
    bool first = true, more = true;
    for (;;) {
        if (!r.next_key(first, more, key)) return false;
        if (!more) break;
        uint32_t v;
        if (!r.colon() || !r.read_u32(v)) return false;
        size_t at = index.find_or_add(key);
        if (at == NOT_FOUND) {
            if (entries.size() >= UINT32_MAX - 1) VONA_FAIL("json: too many map entries");
            entries.emplace_back(std::move(key), v);
        } else {
            entries[at].second = v;
        }
    }
    return r.end_object();
}

// A merge: exactly two strings.
bool parse_merge(Reader& r) {
    int c;
    if (!r.value_start(c)) return false;
    if (c != '[') return r.invalid_type(c, "a tuple of size 2");
    r.bump();
    bool ok = [&] {
        bool first = true, more = true;
        for (size_t i = 0; i < 2; ++i) {
            if (!r.next_element(first, more)) return false;
            if (!more) return r.fail_unplaced("invalid length " + std::to_string(i) + ", expected a tuple of size 2");
            if (!r.check_string()) return false;
        }
        return true;
    }();
    if (!ok) return r.fault_unplaced() ? r.place_fault(']') : false;
    return r.end_array();
}

bool parse_added_token(Reader& r, std::string& key, AddedTokenJson& t) {
    static const char* const names[] = {"id", "content", "special", "single_word", "lstrip", "rstrip", "normalized"};
    return parse_struct(r, key, "struct AddedTokenJson", "struct AddedTokenJson with 7 elements", names, 7, 2,
                        [&](size_t i) {
                            switch (i) {
                                case 0: return r.read_u32(t.id);
                                case 1: return r.read_string(t.content);
                                case 2: return r.read_bool(t.special);
                                case 3: return r.read_bool(t.single_word);
                                case 4: return r.read_bool(t.lstrip);
                                case 5: return r.read_bool(t.rstrip);
                                default: return r.read_bool(t.normalized);
                            }
                        });
}

bool parse_model(Reader& r, std::string& key, ModelJson& m) {
    static const char* const names[] = {"type", "vocab", "merges"};
    return parse_struct(r, key, "struct ModelJson", "struct ModelJson with 3 elements", names, 3, 3, [&](size_t i) {
        switch (i) {
            case 0: return r.read_string(m.type);
            case 1: return parse_u32_map(r, m.vocab);
            default:
                return parse_sequence(r, [&] {
                    ++m.merges;
                    return parse_merge(r);
                });
        }
    });
}

template <class T>
Result<T, std::string> finish(Reader& r, bool ok, T&& value) {
    if (ok) ok = r.end_document();
    if (!ok) return r.fault_text();
    return std::move(value);
}

}  // namespace

Result<TokenizerJson, std::string> parse_tokenizer_json(std::string_view text) {
    static const char* const names[] = {"added_tokens", "model"};
    Reader r(text);
    TokenizerJson t;
    std::string key;
    bool ok = parse_struct(r, key, "struct TokenizerJson", "struct TokenizerJson with 2 elements", names, 2, 2,
                           [&](size_t i) {
                               if (i == 0) {
                                   // A repeated field fails before its value is read, so the
                                   // list is filled once.
                                   return parse_sequence(r, [&] {
                                       t.added_tokens.emplace_back();
                                       return parse_added_token(r, key, t.added_tokens.back());
                                   });
                               }
                               return parse_model(r, key, t.model);
                           });
    return finish(r, ok, std::move(t));
}

Result<VonaMappingJson, std::string> parse_vona_mapping_json(std::string_view text) {
    static const char* const names[] = {"word_to_codepoint"};
    Reader r(text);
    VonaMappingJson m;
    std::string key;
    bool ok = parse_struct(r, key, "struct VonaMappingJson", "struct VonaMappingJson with 1 element", names, 1, 1,
                           [&](size_t) { return parse_u32_map(r, m.word_to_codepoint); });
    return finish(r, ok, std::move(m));
}

}  // namespace vona::bpe

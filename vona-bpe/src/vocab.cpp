#include "vocab.h"

#include <algorithm>
#include <utility>

#include "file_io.h"
#include "tokenizer_json.h"

namespace vona::bpe {
namespace {

// Sort order of the matcher's patterns: longest first, then ascending bytes.
bool pattern_before(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() > b.size();
    return a < b;  // std::string compares as unsigned bytes
}

// Everything the tokenizer file contributes. Kept in its own function so the
// file text and the parsed records are gone before the mapping file is opened.
Result<BpeTokenizer> load_tokenizer_file(const std::string& path) {
    TokenizerJson file;
    {
        auto text = read_text_file(path);
        if (!text) return std::move(text.error());
        auto parsed = parse_tokenizer_json(text.value());
        if (!parsed) return IoError::invalid_data("tokenizer.json parse error: " + parsed.error());
        file = std::move(parsed.value());
    }

    BpeTokenizer t;
    const auto& added = file.added_tokens;
    auto& vocab = file.model.vocab;  // distinct keys: the reader keeps the last value of a repeated one

    // Added tokens in file order; a later entry replaces an earlier one,
    // both for a repeated content and for a repeated id.
    HashMap<std::string, uint32_t> added_token_to_id(added.size());
    t.id_to_added_token.reserve(added.size());
    HashMap<uint32_t, bool> special_ids;
    uint32_t max_id = 0;
    for (const auto& a : added) {
        added_token_to_id.insert_or_assign(a.content, a.id);
        t.id_to_added_token.insert_or_assign(a.id, a.content);
        if (a.special) special_ids.insert_or_assign(a.id, true);
        max_id = std::max(max_id, a.id);
    }

    size_t special_in_vocab = 0;
    for (const auto& [token, id] : vocab) {
        max_id = std::max(max_id, id);
        if (!special_ids.empty() && special_ids.find(id)) ++special_in_vocab;
    }

    // One more than the largest id, in 32 bits. id_to_token is dense, so an
    // id of 2^32-1 (vocab_size would wrap to 0) or ids far beyond the number
    // of tokens are refused instead of wrapping or allocating gigabytes.
    if (max_id == UINT32_MAX)
        return IoError::invalid_data("tokenizer.json: token id 4294967295 is too large: the vocabulary size "
                                     "would not fit in 32 bits");
    const uint64_t entries = vocab.size() + t.id_to_added_token.size();
    const uint64_t bound = max_vocab_size_for(entries);
    if (uint64_t{max_id} + 1 > bound)
        return IoError::invalid_data("tokenizer.json: token id " + std::to_string(max_id) + " is too large for " +
                                     std::to_string(entries) + " tokens (ids must be below " +
                                     std::to_string(bound) + ")");
    t.vocab_size = size_t{max_id} + 1;
    t.id_to_token.assign(t.vocab_size, std::string());

    // The vocabulary. A token whose id belongs to a special added token keeps
    // its slot in id_to_token but is not looked up by text when merging.
    t.token_to_id.reserve(vocab.size() - special_in_vocab);
    for (auto& [token, id] : vocab) {
        if (special_in_vocab == 0 || !special_ids.find(id)) t.token_to_id.insert_or_assign(token, id);
        t.id_to_token[id] = std::move(token);
    }

    // Added tokens fill only the slots the vocabulary left empty.
    for (const auto& a : added)
        if (a.id < t.vocab_size && t.id_to_token[a.id].empty()) t.id_to_token[a.id] = a.content;

    // Merge priority is the token id, so nothing is built from the merges.
    file = TokenizerJson();

    // The matcher over every added token's text. An empty text is left out:
    // it would match between every two bytes and split characters apart.
    std::vector<std::string> patterns;
    patterns.reserve(added_token_to_id.size());
    added_token_to_id.for_each([&](const std::string& content, uint32_t) {
        if (!content.empty()) patterns.push_back(content);
    });
    if (!patterns.empty()) {
        std::sort(patterns.begin(), patterns.end(), pattern_before);
        std::vector<uint32_t> ids;
        ids.reserve(patterns.size());
        for (const auto& p : patterns) ids.push_back(*added_token_to_id.find(p));
        t.special_matcher = SpecialMatcher::build(patterns, ids);
    }
    return t;
}

}  // namespace

Result<BpeTokenizer> BpeTokenizer::load(const std::string& tokenizer_path, const std::string& mapping_path) {
    auto loaded = load_tokenizer_file(tokenizer_path);
    if (!loaded) return std::move(loaded.error());
    BpeTokenizer t = std::move(loaded.value());

    VonaMappingJson mapping;
    {
        auto text = read_text_file(mapping_path);
        if (!text) return std::move(text.error());
        auto parsed = parse_vona_mapping_json(text.value());
        if (!parsed) return IoError::invalid_data("vona_mapping.json parse: " + parsed.error());
        mapping = std::move(parsed.value());
    }
    auto pua = core::PuaMapping::from_codepoints(mapping.word_to_codepoint);
    if (!pua) return IoError::invalid_data(std::move(pua.error()));
    t.pua_mapping = std::move(pua.value());

    build_derived_tables(t);
    return t;
}

}  // namespace vona::bpe

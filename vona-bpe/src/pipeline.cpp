#include "pipeline.h"

#include <string>

#include "encoder.h"
#include "regex.h"

namespace vona::bpe {

namespace {

void encode_chunk_with(const DerivedTables& d, std::string_view chunk, std::vector<uint32_t>& ids,
                       std::string& scratch) {
    PRETOKENIZE_REGEX().for_each(chunk, [&](size_t start, size_t end) {
        encode_piece(chunk.substr(start, end - start), d, ids, scratch);
    });
}

}  // namespace

void encode_chunk(const BpeTokenizer& t, std::string_view chunk, std::vector<uint32_t>& ids) {
    std::string scratch;
    encode_chunk_with(tables(t), chunk, ids, scratch);
}

std::vector<uint32_t> encode(const BpeTokenizer& t, std::string_view text) {
    const DerivedTables& d = tables(t);

    // Mapped words become their private-use characters first, so added
    // tokens are looked for in the substituted text.
    std::string substituted;
    std::string_view work = text;
    if (t.pua_mapping.has_words()) {
        substituted = core::pretokenize(text, t.pua_mapping);
        work = substituted;
    }

    std::vector<uint32_t> ids;
    ids.reserve(work.size() / 3 + 1);
    std::string scratch;  // the byte-level form of a piece, when merging needs it

    if (!t.special_matcher || !t.special_matcher->find_first(work)) {
        encode_chunk_with(d, work, ids, scratch);
        return ids;
    }
    std::vector<SpecialMatch> matches;
    matches.reserve(4);
    t.special_matcher->find_all(work, matches);
    size_t p = 0;
    for (const SpecialMatch& m : matches) {
        if (m.start > p) encode_chunk_with(d, work.substr(p, m.start - p), ids, scratch);
        ids.push_back(m.id);
        p = m.end;
    }
    if (p < work.size()) encode_chunk_with(d, work.substr(p), ids, scratch);
    return ids;
}

}  // namespace vona::bpe

#include "decoder.h"

#include <cstring>

#include "encoder.h"
#include "pretok.h"
#include "utf8.h"

namespace vona::bpe {

std::string decode(const BpeTokenizer& t, const std::vector<uint32_t>& ids) {
    const DerivedTables& d = tables(t);
    const size_t n = d.decoded_end.size();
    const char* base = d.decoded.data();

    // Every id's bytes were decoded at load (an added token's content as it
    // is), so the text is their concatenation: the byte-level decoding of a
    // run of tokens is the concatenation of each token's decoding, since
    // token strings hold whole characters.
    size_t total = 0;
    for (uint32_t id : ids)
        if (id < n) total += d.decoded_end[id] - (id ? d.decoded_end[id - 1] : 0);
    std::string bytes;
    bytes.resize(total);
    char* out = bytes.data();
    for (uint32_t id : ids) {
        if (id >= n) continue;
        uint32_t begin = id ? d.decoded_end[id - 1] : 0, end = d.decoded_end[id];
        std::memcpy(out, base + begin, end - begin);
        out += end - begin;
    }

    std::string text = utf8::valid(bytes) ? std::move(bytes) : utf8::repair(bytes);
    if (t.pua_mapping.has_puas()) return core::reverse_pua(text, t.pua_mapping);
    return text;
}

}  // namespace vona::bpe

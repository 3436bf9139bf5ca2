// Substitution of mapped words by their private-use characters, and back.
//
// The token walk leaves gaps untouched; every token is first looked up whole,
// and identifiers that are not mapped whole are rebuilt from their parts.
#include <cstring>

#include "identifier.h"
#include "pretok.h"
#include "tokens.h"
#include "utf8.h"

namespace vona::core {
namespace {

// Walks the tokens of text and hands each gap and each token to the sink:
//   gap(view)                          a non-empty stretch between tokens
//   whole(cp)                          the token is mapped as a whole
//   plain(view)                        the token is kept as it is
//   begin() / underscore() / part(view, cp or nullptr) / rest(view) / commit() / rollback()
//                                      an identifier rebuilt from its parts
// A rebuild is cancelled (rollback, then plain) when a part does not sit
// where the previous parts left off; with parts from identifier_parts on an
// identifier this cannot happen, but a wrong rebuild would corrupt text.
template <class Sink>
void walk(std::string_view text, const PuaMapping& mapping, std::vector<std::string_view>& parts, Sink& sink) {
    TokenIterator it(text);
    size_t prev = 0, start, end;
    while (it.next(start, end)) {
        if (start > prev) sink.gap(text.substr(prev, start - prev));
        prev = end;
        std::string_view tok = text.substr(start, end - start);
        if (const uint32_t* cp = mapping.pua_for_word(tok)) {
            sink.whole(*cp);
            continue;
        }
        if (!is_identifier(tok)) {
            sink.plain(tok);
            continue;
        }
        parts.clear();
        identifier_parts(tok, parts);
        // No parts (only underscores), or a single part that is the token
        // itself, whose lookup just failed: nothing can change.
        if (parts.empty() || (parts.size() == 1 && parts[0].size() == tok.size())) {
            sink.plain(tok);
            continue;
        }
        sink.begin(tok.size());
        size_t i = 0;
        bool ok = true;
        for (std::string_view p : parts) {
            while (i < tok.size() && tok[i] == '_') {
                sink.underscore();
                ++i;
            }
            if (p.size() > tok.size() - i || std::memcmp(tok.data() + i, p.data(), p.size()) != 0) {
                ok = false;
                break;
            }
            sink.part(p, mapping.pua_for_word(p));
            i += p.size();
        }
        if (!ok) {
            sink.rollback();
            sink.plain(tok);
            continue;
        }
        if (i < tok.size()) sink.rest(tok.substr(i));
        sink.commit();
    }
    if (prev < text.size()) sink.gap(text.substr(prev));
}

// Builds the substituted text in one string. A rebuild appends straight to
// the output and is cut back on rollback, so no scratch string is needed.
struct StringSink {
    std::string& out;
    size_t mark = 0;
    void gap(std::string_view s) { out.append(s); }
    void whole(uint32_t cp) { utf8::append(out, cp); }
    void plain(std::string_view s) { out.append(s); }
    void begin(size_t) { mark = out.size(); }
    void underscore() { out.push_back('_'); }
    void part(std::string_view p, const uint32_t* cp) {
        if (cp)
            utf8::append(out, *cp);
        else
            out.append(p);
    }
    void rest(std::string_view s) { out.append(s); }
    void commit() {}
    void rollback() { out.resize(mark); }
};

// Builds the piece list; the pieces of one rebuild are dropped on rollback.
struct PieceSink {
    std::vector<std::string>& out;
    size_t mark = 0;
    void gap(std::string_view s) { out.emplace_back(s); }
    void whole(uint32_t cp) {
        std::string s;
        utf8::append(s, cp);
        out.push_back(std::move(s));
    }
    void plain(std::string_view s) { out.emplace_back(s); }
    void begin(size_t) { mark = out.size(); }
    void underscore() { out.emplace_back(1, '_'); }
    void part(std::string_view p, const uint32_t* cp) {
        if (cp)
            whole(*cp);
        else
            out.emplace_back(p);
    }
    // One piece per character of the rest (the trailing underscores).
    void rest(std::string_view s) {
        for (size_t i = 0; i < s.size();) {
            size_t n = utf8::seq_len(static_cast<unsigned char>(s[i]));
            if (n > s.size() - i) n = s.size() - i;
            out.emplace_back(s.substr(i, n));
            i += n;
        }
    }
    void commit() {}
    void rollback() { out.resize(mark); }
};

// Private-use characters are encoded with lead bytes EE, EF (U+E000..U+F8FF
// lie in EE 80 80 .. EF A3 BF), F3 and F4 (planes 15 and 16).
inline bool may_start_pua(unsigned char b) { return b >= 0xEE && (b <= 0xEF || b >= 0xF3); }

// Offset of the first private-use character at or after from, or npos.
size_t find_pua(std::string_view text, size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = from;
    while (i < n) {
        // Skip ASCII eight bytes at a time: it is most of the text.
        i = utf8::skip_ascii8(p, i, n);
        if (i >= n) break;
        unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t len = utf8::seq_len(b);
        if (len > n - i) break;
        if (may_start_pua(b)) {
            size_t dlen;
            if (is_pua(utf8::decode(p + i, dlen))) return i;
        }
        i += len;
    }
    return std::string_view::npos;
}

}  // namespace

std::string pretokenize(std::string_view text, const PuaMapping& mapping) {
    // With no words nothing can be replaced; the walk would only copy.
    if (!mapping.has_words()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::vector<std::string_view> parts;
    StringSink sink{out};
    walk(text, mapping, parts, sink);
    return out;
}

std::vector<std::string> split_text(std::string_view text, const PuaMapping& mapping) {
    std::vector<std::string> out;
    out.reserve(text.size() / 3 + 1);
    std::vector<std::string_view> parts;
    PieceSink sink{out};
    walk(text, mapping, parts, sink);
    return out;
}

std::string reverse_pua(std::string_view text, const PuaMapping& mapping) {
    if (!mapping.has_puas()) return std::string(text);
    size_t i = find_pua(text, 0);
    if (i == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    while (i != std::string_view::npos) {
        size_t len;
        uint32_t cp = utf8::decode(p + i, len);
        if (const std::string* word = mapping.word_for_pua(cp)) {
            out.append(text.substr(copied, i - copied));
            out.append(*word);
            copied = i + len;
        }
        i = find_pua(text, i + len);
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace vona::core

#include "json_reader.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "quote.h"
#include "utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vona::json {

namespace {

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

inline int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// First index in [i, n) of a byte that ends a plain run of string text: a
// quote, a backslash or a control byte; n when there is none.
inline size_t scan_plain(const unsigned char* p, size_t i, size_t n) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i ctl_max = _mm_set1_epi8(0x1F);
    while (i + 16 <= n) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)),
                                   _mm_cmpeq_epi8(_mm_max_epu8(x, ctl_max), ctl_max));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
        i += 16;
    }
#endif
    while (i < n) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\' || c < 0x20) return i;
        ++i;
    }
    return n;
}

// Nesting of the containers being walked: one bit per level (set for an
// object). The first 256 levels live inline, so walking ordinary values
// allocates nothing; deeper values spill into a vector.
class BitStack {
public:
    bool empty() const { return depth_ == 0; }
    void push(bool bit) {
        size_t w = depth_ >> 6;
        uint64_t m = uint64_t(1) << (depth_ & 63);
        uint64_t& word = w < INLINE ? inline_[w] : spill_word(w);
        word = bit ? (word | m) : (word & ~m);
        ++depth_;
    }
    void pop() { --depth_; }
    bool top() const {
        size_t d = depth_ - 1;
        size_t w = d >> 6;
        uint64_t word = w < INLINE ? inline_[w] : spill_[w - INLINE];
        return (word >> (d & 63)) & 1;
    }

private:
    static constexpr size_t INLINE = 4;
    uint64_t& spill_word(size_t w) {
        if (spill_.size() <= w - INLINE) spill_.resize(w - INLINE + 1, 0);
        return spill_[w - INLINE];
    }
    uint64_t inline_[INLINE] = {};
    std::vector<uint64_t> spill_;
    size_t depth_ = 0;
};

// Decimal exponent of the leading significant digit of a number's text
// (digits, point, exponent already checked); false for a zero.
bool leading_exponent(const unsigned char* s, size_t n, int64_t& m) {
    size_t i = 0;
    if (s[i] == '-') ++i;
    int64_t pos = 0;  // exponent of the digit at i, relative to the point
    size_t int_digits = 0;
    for (size_t k = i; k < n && is_digit(s[k]); ++k) ++int_digits;
    bool found = false;
    int64_t lead = 0;
    pos = static_cast<int64_t>(int_digits) - 1;
    size_t k = i;
    for (; k < n && is_digit(s[k]); ++k, --pos) {
        if (!found && s[k] != '0') {
            found = true;
            lead = pos;
        }
    }
    if (k < n && s[k] == '.') {
        ++k;
        for (; k < n && is_digit(s[k]); ++k, --pos) {
            if (!found && s[k] != '0') {
                found = true;
                lead = pos;
            }
        }
    }
    if (!found) return false;
    int64_t e = 0;
    if (k < n && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        bool neg = false;
        if (s[k] == '+' || s[k] == '-') neg = s[k++] == '-';
        for (; k < n && is_digit(s[k]); ++k)
            if (e < 1000000000) e = e * 10 + (s[k] - '0');
        if (neg) e = -e;
    }
    m = lead + e;
    return true;
}

std::string quoted_text(const std::string& s) {
    // Decoded strings of checked input are valid UTF-8; anything else is
    // repaired first so that quoting never reads past a broken sequence.
    if (utf8::valid(s)) return quoted(s);
    return quoted(utf8::repair(s));
}

}  // namespace

std::string format_float(double v) {
    if (v != v) return "NaN";
    if (v == std::numeric_limits<double>::infinity()) return "inf";
    if (v == -std::numeric_limits<double>::infinity()) return "-inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
    std::string out;
    size_t i = 0;
    if (sci[i] == '-') {
        out.push_back('-');
        ++i;
    }
    std::string digits;
    for (; i < sci.size() && sci[i] != 'e'; ++i)
        if (sci[i] != '.') digits.push_back(sci[i]);
    int exp = 0;
    std::from_chars(sci.data() + i + 1 + (sci[i + 1] == '+'), sci.data() + sci.size(), exp);
    // Shortest digits d1 d2 ... dn stand for 0.d1...dn * 10^(exp+1).
    long point = static_cast<long>(exp) + 1;
    long n = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += digits;
    } else if (point >= n) {
        out += digits;
        out.append(static_cast<size_t>(point - n), '0');
        out += ".0";
    } else {
        out.append(digits, 0, static_cast<size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<size_t>(point), std::string::npos);
    }
    return out;
}

std::string describe_number(const Number& n) {
    switch (n.kind) {
        case Number::Kind::Unsigned: return "integer `" + std::to_string(n.u) + "`";
        case Number::Kind::Signed: return "integer `" + std::to_string(n.i) + "`";
        case Number::Kind::Float: break;
    }
    return "floating point `" + format_float(n.f) + "`";
}

// ---------------------------------------------------------------- faults

bool Reader::fail_at(size_t pos, std::string msg) {
    fault_set_ = true;
    fault_pos_ = pos;
    fault_ = std::move(msg);
    return false;
}

bool Reader::fail_peek(const char* msg) { return fail_at(pos_ < n_ ? pos_ + 1 : n_, msg); }
bool Reader::fail_here(const char* msg) { return fail_at(pos_, msg); }
bool Reader::fail_unplaced(std::string msg) { return fail_at(NO_POS, std::move(msg)); }
bool Reader::fail_placed_here(std::string msg) { return fail_at(pos_, std::move(msg)); }

bool Reader::place_fault(char closer) {
    // The end check of the container still runs; its own verdict is dropped
    // and only moves the point where the fault is reported.
    int c = peek_ws();
    if (c == closer) {
        bump();
    } else if (closer == ']' && c == ',') {
        bump();
        skip_ws();
    }
    if (fault_pos_ == NO_POS) fault_pos_ = pos_;
    return false;
}

std::string Reader::fault_text() const {
    size_t k = fault_pos_ == NO_POS ? pos_ : fault_pos_;
    if (k > n_) k = n_;
    size_t line = 1, last_lf = 0;
    bool any_lf = false;
    const unsigned char* q = p_;
    const unsigned char* end = p_ + k;
    while (q < end) {
        const void* hit = std::memchr(q, '\n', static_cast<size_t>(end - q));
        if (!hit) break;
        const unsigned char* at = static_cast<const unsigned char*>(hit);
        ++line;
        any_lf = true;
        last_lf = static_cast<size_t>(at - p_);
        q = at + 1;
    }
    size_t column = any_lf ? k - last_lf - 1 : k;
    return fault_ + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// ---------------------------------------------------------------- syntax

bool Reader::hex4(uint32_t& v) {
    if (n_ - pos_ < 4) {
        pos_ = n_;
        return fail_here("EOF while parsing a string");
    }
    int a = hex_value(p_[pos_]), b = hex_value(p_[pos_ + 1]), c = hex_value(p_[pos_ + 2]), d = hex_value(p_[pos_ + 3]);
    pos_ += 4;
    if ((a | b | c | d) < 0) return fail_here("invalid escape");
    v = static_cast<uint32_t>((a << 12) | (b << 8) | (c << 4) | d);
    return true;
}

bool Reader::escape_u(std::string* out, bool skip) {
    uint32_t v = 0;
    if (!hex4(v)) return false;
    if (skip) return true;
    if (v >= 0xDC00 && v <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
    if (v >= 0xD800 && v <= 0xDBFF) {
        if (pos_ == n_) return fail_here("EOF while parsing a string");
        if (p_[pos_++] != '\\') return fail_here("unexpected end of hex escape");
        if (pos_ == n_) return fail_here("EOF while parsing a string");
        if (p_[pos_++] != 'u') return fail_here("unexpected end of hex escape");
        uint32_t lo = 0;
        if (!hex4(lo)) return false;
        if (lo < 0xDC00 || lo > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
        v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
    }
    if (out) utf8::append(*out, v);
    return true;
}

bool Reader::string(std::string* out, bool skip) {
    ++pos_;  // the opening quote
    for (;;) {
        size_t start = pos_;
        size_t i = scan_plain(p_, pos_, n_);
        if (out && i > start) out->append(reinterpret_cast<const char*>(p_) + start, i - start);
        pos_ = i;
        if (i == n_) return fail_here("EOF while parsing a string");
        unsigned char c = p_[pos_++];
        if (c == '"') return true;
        if (c != '\\') return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
        if (pos_ == n_) return fail_here("EOF while parsing a string");
        unsigned char e = p_[pos_++];
        char decoded;
        switch (e) {
            case '"': decoded = '"'; break;
            case '\\': decoded = '\\'; break;
            case '/': decoded = '/'; break;
            case 'b': decoded = '\b'; break;
            case 'f': decoded = '\f'; break;
            case 'n': decoded = '\n'; break;
            case 'r': decoded = '\r'; break;
            case 't': decoded = '\t'; break;
            case 'u':
                if (!escape_u(out, skip)) return false;
                continue;
            default: return fail_here("invalid escape");
        }
        if (out) out->push_back(decoded);
    }
}

bool Reader::number(Number* out) {
    const size_t start = pos_;
    bool neg = false;
    if (p_[pos_] == '-') {
        neg = true;
        ++pos_;
        if (pos_ == n_) return fail_here("EOF while parsing a value");
        if (!is_digit(p_[pos_])) {
            ++pos_;
            return fail_here("invalid number");
        }
    }
    const size_t int_start = pos_;
    if (p_[pos_] == '0') {
        ++pos_;
        if (pos_ < n_ && is_digit(p_[pos_])) return fail_peek("invalid number");
    } else {
        while (pos_ < n_ && is_digit(p_[pos_])) ++pos_;
    }
    const size_t int_end = pos_;
    bool is_float = false;
    if (pos_ < n_ && p_[pos_] == '.') {
        ++pos_;
        is_float = true;
        if (pos_ == n_) return fail_peek("EOF while parsing a value");
        if (!is_digit(p_[pos_])) return fail_peek("invalid number");
        while (pos_ < n_ && is_digit(p_[pos_])) ++pos_;
    }
    if (pos_ < n_ && (p_[pos_] == 'e' || p_[pos_] == 'E')) {
        ++pos_;
        is_float = true;
        if (pos_ < n_ && (p_[pos_] == '+' || p_[pos_] == '-')) ++pos_;
        if (pos_ == n_) return fail_here("EOF while parsing a value");
        if (!is_digit(p_[pos_])) {
            ++pos_;
            return fail_here("invalid number");
        }
        while (pos_ < n_ && is_digit(p_[pos_])) ++pos_;
    }
    if (!out) return true;

    if (!is_float) {
        uint64_t v = 0;
        bool overflow = false;
        for (size_t k = int_start; k < int_end; ++k) {
            uint64_t d = p_[k] - '0';
            if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) {
                overflow = true;
                break;
            }
            v = v * 10 + d;
        }
        if (!overflow) {
            if (!neg) {
                out->kind = Number::Kind::Unsigned;
                out->u = v;
                return true;
            }
            if (v == 0) {  // "-0" is a float
                out->kind = Number::Kind::Float;
                out->f = -0.0;
                return true;
            }
            if (v <= uint64_t(1) << 63) {
                out->kind = Number::Kind::Signed;
                out->i = v == uint64_t(1) << 63 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(v);
                return true;
            }
        }
    }
    const char* s = reinterpret_cast<const char*>(p_) + start;
    const char* e = reinterpret_cast<const char*>(p_) + pos_;
    double d = 0.0;
    auto r = std::from_chars(s, e, d);
    if (r.ec == std::errc::result_out_of_range) {
        int64_t m = 0;
        if (leading_exponent(p_ + start, pos_ - start, m) && m >= 0) return fail_here("number out of range");
        d = neg ? -0.0 : 0.0;  // below the smallest subnormal
    } else if (r.ec != std::errc() || r.ptr != e) {
        VONA_FAIL("json: checked number text did not convert");
    }
    if (d == std::numeric_limits<double>::infinity() || d == -std::numeric_limits<double>::infinity())
        return fail_here("number out of range");
    out->kind = Number::Kind::Float;
    out->f = d;
    return true;
}

bool Reader::literal(char& which) {
    which = static_cast<char>(p_[pos_]);
    const char* rest = which == 't' ? "rue" : which == 'f' ? "alse" : "ull";
    ++pos_;
    for (const char* q = rest; *q; ++q) {
        if (pos_ == n_) return fail_here("EOF while parsing a value");
        if (p_[pos_++] != static_cast<unsigned char>(*q)) return fail_here("expected ident");
    }
    return true;
}

// One value of any kind without recursion. Checked walks decode strings
// (surrogates included) and convert numbers; skipped walks check syntax only.
// remaining_depth > 0 bounds the nesting: entering a container when it would
// drop to 0 is "recursion limit exceeded".
template <bool Checked>
static bool walk(Reader& r, int remaining_depth) {
    const bool limited = remaining_depth > 0;
    BitStack stack;
    Number num;
    enum class State { Value, Key, After } state = State::Value;
    for (;;) {
        switch (state) {
            case State::Value: {
                int c = r.peek_ws();
                switch (c) {
                    case Reader::END: return r.fail_peek("EOF while parsing a value");
                    case '"':
                        if (!r.string(nullptr, !Checked)) return false;
                        state = State::After;
                        break;
                    case '-':
                    case '0':
                    case '1':
                    case '2':
                    case '3':
                    case '4':
                    case '5':
                    case '6':
                    case '7':
                    case '8':
                    case '9':
                        if (!(Checked ? r.number(&num) : r.number_syntax())) return false;
                        state = State::After;
                        break;
                    case 't':
                    case 'f':
                    case 'n': {
                        char which;
                        if (!r.literal(which)) return false;
                        state = State::After;
                        break;
                    }
                    case '[':
                        if (limited && --remaining_depth == 0) return r.fail_peek("recursion limit exceeded");
                        r.bump();
                        c = r.peek_ws();
                        if (c == ']') {
                            r.bump();
                            if (limited) ++remaining_depth;
                            state = State::After;
                        } else if (c == Reader::END) {
                            return r.fail_peek("EOF while parsing a list");
                        } else {
                            stack.push(false);
                        }
                        break;
                    case '{':
                        if (limited && --remaining_depth == 0) return r.fail_peek("recursion limit exceeded");
                        r.bump();
                        c = r.peek_ws();
                        if (c == '}') {
                            r.bump();
                            if (limited) ++remaining_depth;
                            state = State::After;
                        } else if (c == Reader::END) {
                            return r.fail_peek("EOF while parsing an object");
                        } else if (c != '"') {
                            return r.fail_peek("key must be a string");
                        } else {
                            stack.push(true);
                            state = State::Key;
                        }
                        break;
                    default: return r.fail_peek("expected value");
                }
                break;
            }
            case State::Key:
                if (!r.string(nullptr, !Checked) || !r.colon()) return false;
                state = State::Value;
                break;
            case State::After: {
                if (stack.empty()) return true;
                int c = r.peek_ws();
                if (stack.top()) {
                    if (c == '}') {
                        r.bump();
                        stack.pop();
                        if (limited) ++remaining_depth;
                    } else if (c == ',') {
                        r.bump();
                        c = r.peek_ws();
                        if (c == '"') {
                            state = State::Key;
                        } else if (c == '}') {
                            return r.fail_peek("trailing comma");
                        } else if (c == Reader::END) {
                            return r.fail_peek("EOF while parsing a value");
                        } else {
                            return r.fail_peek("key must be a string");
                        }
                    } else if (c == Reader::END) {
                        return r.fail_peek("EOF while parsing an object");
                    } else {
                        return r.fail_peek("expected `,` or `}`");
                    }
                } else {
                    if (c == ']') {
                        r.bump();
                        stack.pop();
                        if (limited) ++remaining_depth;
                    } else if (c == ',') {
                        r.bump();
                        if (r.peek_ws() == ']') return r.fail_peek("trailing comma");
                        state = State::Value;
                    } else if (c == Reader::END) {
                        return r.fail_peek("EOF while parsing a list");
                    } else {
                        return r.fail_peek("expected `,` or `]`");
                    }
                }
                break;
            }
        }
    }
}

bool Reader::skip_value() { return walk<false>(*this, 0); }
bool Reader::check_value(int remaining_depth) { return walk<true>(*this, remaining_depth); }

// ---------------------------------------------------------------- containers

bool Reader::next_element(bool& first, bool& has_more) {
    int c = peek_ws();
    if (c == ']') {
        has_more = false;
        return true;
    }
    if (c == END) return fail_peek("EOF while parsing a list");
    if (!first) {
        if (c != ',') return fail_peek("expected `,` or `]`");
        bump();
        if (peek_ws() == ']') return fail_peek("trailing comma");
    }
    first = false;
    has_more = true;
    return true;
}

bool Reader::next_key(bool& first, bool& has_more, std::string& key) {
    int c = peek_ws();
    if (c == '}') {
        has_more = false;
        return true;
    }
    if (c == END) return fail_peek("EOF while parsing an object");
    if (!first) {
        if (c != ',') return fail_peek("expected `,` or `}`");
        bump();
        c = peek_ws();
        if (c == '}') return fail_peek("trailing comma");
        if (c == END) return fail_peek("EOF while parsing a value");
    }
    if (c != '"') return fail_peek("key must be a string");
    first = false;
    key.clear();
    if (!string(&key)) return false;
    has_more = true;
    return true;
}

bool Reader::colon() {
    int c = peek_ws();
    if (c == ':') {
        bump();
        return true;
    }
    if (c == END) return fail_peek("EOF while parsing an object");
    return fail_peek("expected `:`");
}

bool Reader::end_array() {
    int c = peek_ws();
    if (c == ']') {
        bump();
        return true;
    }
    if (c == ',') {
        bump();
        return fail_peek(peek_ws() == ']' ? "trailing comma" : "trailing characters");
    }
    if (c == END) return fail_peek("EOF while parsing a list");
    return fail_peek("trailing characters");
}

bool Reader::end_object() {
    int c = peek_ws();
    if (c == '}') {
        bump();
        return true;
    }
    if (c == ',') return fail_peek("trailing comma");
    if (c == END) return fail_peek("EOF while parsing an object");
    return fail_peek("trailing characters");
}

bool Reader::end_document() {
    if (peek_ws() != END) return fail_peek("trailing characters");
    return true;
}

// ---------------------------------------------------------------- typed values

bool Reader::value_start(int& c) {
    c = peek_ws();
    if (c == END) return fail_peek("EOF while parsing a value");
    return true;
}

bool Reader::invalid_type(int c, const char* expected) {
    std::string found;
    switch (c) {
        case '"':
            scratch_.clear();
            if (!string(&scratch_)) return false;
            found = "string " + quoted_text(scratch_);
            break;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9': {
            Number n;
            if (!number(&n)) return false;
            found = describe_number(n);
            break;
        }
        case 't':
        case 'f':
        case 'n': {
            char which;
            if (!literal(which)) return false;
            found = which == 't' ? "boolean `true`" : which == 'f' ? "boolean `false`" : "null";
            break;
        }
        // Containers are not entered: the fault sits before the bracket.
        case '[': found = "sequence"; break;
        case '{': found = "map"; break;
        default: return fail_peek("expected value");
    }
    return fail_placed_here("invalid type: " + found + ", expected " + expected);
}

bool Reader::read_u32(uint32_t& out) {
    int c;
    if (!value_start(c)) return false;
    if (c != '-' && !is_digit(c)) return invalid_type(c, "u32");
    Number n;
    if (!number(&n)) return false;
    switch (n.kind) {
        case Number::Kind::Unsigned:
            if (n.u <= std::numeric_limits<uint32_t>::max()) {
                out = static_cast<uint32_t>(n.u);
                return true;
            }
            [[fallthrough]];
        case Number::Kind::Signed: return fail_placed_here("invalid value: " + describe_number(n) + ", expected u32");
        case Number::Kind::Float: break;
    }
    return fail_placed_here("invalid type: " + describe_number(n) + ", expected u32");
}

bool Reader::read_bool(bool& out) {
    int c;
    if (!value_start(c)) return false;
    if (c != 't' && c != 'f') return invalid_type(c, "a boolean");
    char which;
    if (!literal(which)) return false;
    out = which == 't';
    return true;
}

bool Reader::read_string(std::string& out) {
    int c;
    if (!value_start(c)) return false;
    if (c != '"') return invalid_type(c, "a string");
    out.clear();
    return string(&out);
}

bool Reader::check_string() {
    int c;
    if (!value_start(c)) return false;
    if (c != '"') return invalid_type(c, "a string");
    return string(nullptr);
}

// ---------------------------------------------------------------- shard lines

std::string parse_text_line(std::string_view line, std::string& text, bool& has_text) {
    constexpr int DEPTH = 128;
    Reader r(line);
    has_text = false;
    text.clear();
    int c = r.peek_ws();
    bool ok;
    if (c != '{') {
        ok = r.check_value(DEPTH);
    } else {
        // The top-level object is walked here so that the last "text" member
        // can be decoded into text; everything else is only checked. The
        // object takes one level of the depth budget.
        r.bump();
        ok = true;
        bool first = true, more = true;
        thread_local std::string key;  // keeps its room from line to line
        while (ok) {
            ok = r.next_key(first, more, key);
            if (!ok || !more) break;
            ok = r.colon();
            if (!ok) break;
            if (key == "text") {
                if (r.peek_ws() == '"') {
                    text.clear();
                    ok = r.string(&text);
                    has_text = ok;
                    continue;
                }
                has_text = false;
            }
            ok = r.check_value(DEPTH - 1);
        }
        if (ok) ok = r.end_object();
    }
    if (ok) ok = r.end_document();
    if (ok) return std::string();
    has_text = false;
    return r.fault_text();
}

}  // namespace vona::json

// A streaming JSON (RFC 8259) reader with line/column fault reports.
//
// The record parsers (tokenizer files) and the shard line parser build on
// it; faults are described as "<text> at line L column C".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "error.h"

namespace vona::json {

// Parses one line of a corpus shard as a single JSON value (nesting deeper
// than 128 levels is "recursion limit exceeded"). When the value is an
// object whose member "text" is a string, stores that string (decoded) in
// text and sets has_text. On a fault returns the description, e.g.
// "EOF while parsing an object at line 1 column 1"; else an empty string.
std::string parse_text_line(std::string_view line, std::string& text, bool& has_text);

// A converted JSON number.
struct Number {
    enum class Kind { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    uint64_t u = 0;
    int64_t i = 0;
    double f = 0.0;
};

// The found part of a value message for a number: "integer `5`",
// "floating point `1.5`".
std::string describe_number(const Number& n);

// A float as the shortest digits that read back to it, in positional
// notation, with ".0" when no point is written (1e3 -> "1000.0").
std::string format_float(double v);

// The cursor and the syntax rules, shared by the record parsers and the
// shard line parser. Every method that can fail returns false and leaves one
// fault in the reader; the caller stops at the first one.
//
// A fault is placed either at the consumed position (the bytes consumed so
// far) or at the peek position (one more byte, the one being looked at,
// capped at the end). Faults of the record layer (missing or duplicate
// field, invalid length) are made without a position and get one from
// place_fault(), after the enclosing container's end check.
class Reader {
public:
    static constexpr int END = -1;  // peek() at the end of the input

    explicit Reader(std::string_view text)
        : p_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()) {}

    // --- cursor
    int peek() const { return pos_ < n_ ? p_[pos_] : END; }
    void bump() { ++pos_; }
    size_t pos() const { return pos_; }
    void skip_ws() {
        while (pos_ < n_) {
            unsigned char c = p_[pos_];
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') break;
            ++pos_;
        }
    }
    // Skips white space and looks at the next byte.
    int peek_ws() {
        skip_ws();
        return peek();
    }

    // --- faults
    bool fail_peek(const char* msg);         // at the peek position
    bool fail_here(const char* msg);         // at the consumed position
    bool fail_unplaced(std::string msg);     // a record-layer fault, placed later
    bool fail_placed_here(std::string msg);  // a value fault at the consumed position
    bool has_fault() const { return fault_set_; }
    bool fault_unplaced() const { return fault_set_ && fault_pos_ == NO_POS; }
    // End check of an array (closer ']') or an object ('}') run after an
    // unplaced fault: skips white space and the closer if it is there, then
    // places the fault at the consumed position. Always returns false.
    bool place_fault(char closer);
    // "<message> at line L column C".
    std::string fault_text() const;

    // --- syntax, each positioned at the first byte of its item (white
    // space already skipped, the byte peeked)

    // A string whose opening quote is next. Escapes are checked; with
    // surrogate checks (decoded strings) unless skip is set. out, when given,
    // receives the decoded text (appended).
    bool string(std::string* out, bool skip = false);
    // A number: syntax only, or converted into n (overflow to infinity is
    // "number out of range").
    bool number_syntax() { return number(nullptr); }
    bool number(Number* n);
    // true, false or null whose first letter is next; stores the letter.
    bool literal(char& which);
    // Any value (after white space), no depth limit, no recursion, no
    // surrogate checks, numbers not converted: the value of an unknown key.
    bool skip_value();
    // Any value (after white space), strings decoded and numbers converted
    // without building anything; entering a container when remaining_depth
    // (> 0) containers are already open around it is "recursion limit
    // exceeded".
    bool check_value(int remaining_depth);

    // --- container steps (typed parsers)

    // Next array element: skips white space; false with has_more = false at
    // ']' (not consumed); handles the ',' between elements.
    bool next_element(bool& first, bool& has_more);
    // Next object key (decoded into key, replacing it), or has_more = false
    // at '}' (not consumed).
    bool next_key(bool& first, bool& has_more, std::string& key);
    // The ':' after a key.
    bool colon();
    // After the last item: ']' or '}' with the end rules of each; consumed.
    bool end_array();
    bool end_object();
    // After the top-level value: only white space may follow.
    bool end_document();

    // --- typed values (after white space; a value of another kind is an
    // invalid-type fault naming what was found and what was expected)
    bool read_u32(uint32_t& out);
    bool read_bool(bool& out);
    bool read_string(std::string& out);          // expected "a string"
    bool check_string();                          // the same, text not kept
    // The byte of a typed value: false with a fault at the end of input.
    bool value_start(int& c);
    // An invalid-type fault for the value that starts with byte c (peeked).
    bool invalid_type(int c, const char* expected);

private:
    static constexpr size_t NO_POS = static_cast<size_t>(-1);

    bool fail_at(size_t pos, std::string msg);
    bool hex4(uint32_t& v);
    bool escape_u(std::string* out, bool skip);

    const unsigned char* p_;
    size_t n_;
    size_t pos_ = 0;
    bool fault_set_ = false;
    size_t fault_pos_ = NO_POS;
    std::string fault_;
    std::string scratch_;
};

}  // namespace vona::json

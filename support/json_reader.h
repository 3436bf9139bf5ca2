// A streaming JSON (RFC 8259) reader with line/column fault reports.
//
// The record parsers (tokenizer files) and the shard line parser build on
// it; faults are described as "<text> at line L column C".
#pragma once

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

}  // namespace vona::json

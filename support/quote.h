// Quoting of strings in messages: double quotes, backslash escapes for the
// quote, backslash, tab, CR, LF and NUL, and \u{...} (lowercase hex) for
// characters that are not printable or are Grapheme_Extend.
#pragma once

#include <string>
#include <string_view>

namespace vona {

// Appends s (valid UTF-8) in quotes to out.
void append_quoted(std::string& out, std::string_view s);

inline std::string quoted(std::string_view s) {
    std::string out;
    append_quoted(out, s);
    return out;
}

}  // namespace vona

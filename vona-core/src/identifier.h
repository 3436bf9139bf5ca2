// Identifiers (ASCII letters, digits, underscores, not starting with a digit)
// and their word parts: «getJSONValue» -> get, JSON, Value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vona::core {

bool is_identifier(std::string_view s);

// Appends the parts of one segment (a piece without underscores) to parts.
// Parts are views into segment; when the segment holds no ASCII letter or
// digit, the whole segment is appended.
void split_camel_segment(std::string_view segment, std::vector<std::string_view>& parts);

// The parts of ident: split at every underscore, empty segments skipped,
// each segment cut by split_camel_segment. Appends views into ident.
void identifier_parts(std::string_view ident, std::vector<std::string_view>& parts);

// The parts as owned strings.
std::vector<std::string> split_identifier(std::string_view ident);

}  // namespace vona::core

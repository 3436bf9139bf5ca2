// Identifiers and their word parts. The rules are ASCII only: a non-ASCII
// character makes a string a non-identifier and belongs to no part.
#include "identifier.h"

#include "utf8.h"

namespace vona::core {
namespace {

inline bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
inline bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_identifier(std::string_view s) {
    if (s.empty()) return false;
    auto c0 = static_cast<unsigned char>(s[0]);
    if (!is_lower(c0) && !is_upper(c0) && c0 != '_') return false;
    for (size_t i = 1; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (!is_lower(c) && !is_upper(c) && !is_digit(c) && c != '_') return false;
    }
    return true;
}

void split_camel_segment(std::string_view segment, std::vector<std::string_view>& parts) {
    const auto* s = reinterpret_cast<const unsigned char*>(segment.data());
    const size_t n = segment.size();
    const size_t before = parts.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        size_t j = i + 1;
        if (c >= 0x80) {
            // Skip the whole character; a truncated one ends the segment.
            size_t len = utf8::seq_len(c);
            i = len > n - i ? n : i + len;
            continue;
        }
        if (is_lower(c)) {
            while (j < n && is_lower(s[j])) ++j;
        } else if (is_digit(c)) {
            while (j < n && is_digit(s[j])) ++j;
        } else if (is_upper(c)) {
            while (j < n && is_upper(s[j])) ++j;
            size_t run = j - i;
            if (j < n && is_lower(s[j])) {
                if (run >= 2) {
                    --j;  // an acronym: its last capital starts the next word
                } else {
                    while (j < n && is_lower(s[j])) ++j;  // a capitalised word
                }
            }
        } else {
            ++i;  // hyphen, dollar sign, dot ...: belongs to no part
            continue;
        }
        parts.push_back(segment.substr(i, j - i));
        i = j;
    }
    // No letter or digit: the segment stands for itself (an empty one gives
    // nothing, parts are never empty).
    if (parts.size() == before && n > 0) parts.push_back(segment);
}

void identifier_parts(std::string_view ident, std::vector<std::string_view>& parts) {
    size_t i = 0;
    const size_t n = ident.size();
    while (i < n) {
        size_t u = ident.find('_', i);
        if (u == std::string_view::npos) u = n;
        if (u > i) split_camel_segment(ident.substr(i, u - i), parts);
        i = u + 1;
    }
}

std::vector<std::string> split_identifier(std::string_view ident) {
    std::vector<std::string_view> views;
    identifier_parts(ident, views);
    std::vector<std::string> out;
    out.reserve(views.size());
    for (std::string_view v : views) out.emplace_back(v);
    return out;
}

}  // namespace vona::core

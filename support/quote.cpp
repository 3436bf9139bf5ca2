#include "quote.h"

#include <cstdio>

#include "unicode.h"
#include "utf8.h"

namespace vona {

void append_quoted(std::string& out, std::string_view s) {
    out.reserve(out.size() + s.size() + 2);
    out.push_back('"');
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        uint32_t cp = utf8::decode(s, i, len);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case 0: out += "\\0"; break;
            default: {
                uint16_t c = unicode::classes(cp);
                if ((c & unicode::GRAPHEME_EXT) || !(c & unicode::PRINTABLE)) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", cp);
                    out += buf;
                } else {
                    out.append(s.data() + i, len);
                }
            }
        }
        i += len;
    }
    out.push_back('"');
}

}  // namespace vona

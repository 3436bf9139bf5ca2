#include "bytelevel.h"

#include "utf8.h"

namespace vona::bpe {

namespace {

ByteToChar build_byte_to_char() {
    ByteToChar t{};
    uint32_t next = 0x100;
    for (int b = 0; b < 256; ++b) {
        // Printable Latin-1 stands for itself; the rest (controls, blank,
        // DEL, NBSP, soft hyphen) move to U+0100 onwards, in byte order.
        bool self = (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || (b >= 174 && b <= 255);
        uint32_t cp = self ? static_cast<uint32_t>(b) : next++;
        t.cp[b] = cp;
        std::string s;
        utf8::append(s, cp);
        t.utf8_len[b] = static_cast<uint8_t>(s.size());
        t.utf8[b] = {s[0], s.size() > 1 ? s[1] : '\0'};
    }
    return t;
}

CharToByte build_char_to_byte() {
    CharToByte t{};
    t.byte.fill(-1);
    const ByteToChar& b2c = BYTE_TO_CHAR();
    for (int b = 0; b < 256; ++b) t.byte[b2c.cp[b]] = static_cast<int16_t>(b);
    return t;
}

}  // namespace

const ByteToChar& BYTE_TO_CHAR() {
    static const ByteToChar table = build_byte_to_char();
    return table;
}

const CharToByte& CHAR_TO_BYTE() {
    static const CharToByte table = build_char_to_byte();
    return table;
}

void byte_level_encode(std::string_view bytes, std::string& out) {
    const ByteToChar& t = BYTE_TO_CHAR();
    out.clear();
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) out.append(t.utf8[b].data(), t.utf8_len[b]);
}

void byte_level_decode(std::string_view text, std::string& out) {
    const CharToByte& t = CHAR_TO_BYTE();
    out.clear();
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        size_t len;
        uint32_t cp = utf8::decode(p + i, len);
        if (cp < CharToByte::LIMIT && t.byte[cp] >= 0)
            out.push_back(static_cast<char>(t.byte[cp]));
        else
            out.append(text.data() + i, len);
        i += len;
    }
}

}  // namespace vona::bpe

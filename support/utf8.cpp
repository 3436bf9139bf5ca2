#include "utf8.h"

#include <cstring>

namespace vona::utf8 {

namespace {

// Length of the valid sequence at p (n bytes available), or 0 with bad set
// to the length of the maximal invalid subpart to replace.
inline size_t check_one(const unsigned char* p, size_t n, size_t& bad) {
    unsigned char b = p[0];
    if (b < 0x80) return 1;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    // The second byte has the narrowed range; later ones the plain one.
    for (size_t i = 1; i < need; ++i) {
        unsigned char c = i < n ? p[i] : 0;
        unsigned char l = i == 1 ? lo : 0x80, h = i == 1 ? hi : 0xBF;
        if (i >= n || c < l || c > h) {
            bad = i;
            return 0;
        }
    }
    return need;
}

}  // namespace

size_t valid_prefix(const unsigned char* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        i = skip_ascii8(p, i, n);
        if (i >= n) break;
        size_t bad = 0;
        size_t len = check_one(p + i, n - i, bad);
        if (len == 0) return i;
        i += len;
    }
    return n;
}

std::string repair(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t first_bad = valid_prefix(p, n);
    if (first_bad == n) return std::string(bytes);
    std::string out;
    out.reserve(n + 8);
    out.append(bytes.data(), first_bad);
    size_t i = first_bad;
    while (i < n) {
        size_t bad = 0;
        size_t len = check_one(p + i, n - i, bad);
        if (len) {
            out.append(bytes.data() + i, len);
            i += len;
        } else {
            out.append("\xEF\xBF\xBD");
            i += bad;
        }
    }
    return out;
}

}  // namespace vona::utf8

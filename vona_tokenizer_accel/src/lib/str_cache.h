// Builds Python str objects for many short pieces of one text, reusing the
// object of an equal piece seen shortly before. Token lists repeat the same
// identifiers, keywords and operators over and over; handing out a new
// reference to an existing str costs a fraction of decoding a new one.
//
// The cache holds borrowed references: it must only be used while something
// else (the result list under construction) keeps every object it returned
// alive, and it must not outlive that owner.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "binding.h"
#include "hash_map.h"

namespace vona::py {

class StrCache {
public:
    // Pieces longer than this are always decoded afresh: they rarely repeat.
    static constexpr size_t MAX_LEN = 32;

    // Sized for about `pieces` lookups: small inputs do not pay for clearing
    // a big table, large ones keep up to 4096 recent pieces.
    explicit StrCache(size_t pieces) : mask_(slot_count(pieces) - 1), slots_(mask_ + 1) {}

    // A new reference to a str equal to s (raises on failure).
    PyObject* get(std::string_view s) {
        if (s.size() > MAX_LEN) return to_str(s);
        Slot& e = slots_[hash_bytes(s.data(), s.size(), 0x9e3779b97f4a7c15ull) & mask_];
        if (e.obj && e.len == s.size() && std::memcmp(e.data, s.data(), s.size()) == 0) return Py_NewRef(e.obj);
        PyObject* obj = to_str(s);
        e = Slot{s.data(), s.size(), obj};
        return obj;
    }

private:
    static size_t slot_count(size_t pieces) {
        size_t n = 16;
        while (n < 4096 && n < pieces / 2) n <<= 1;
        return n;
    }

    struct Slot {
        const char* data = nullptr;
        size_t len = 0;
        PyObject* obj = nullptr;  // borrowed
    };
    size_t mask_;
    std::vector<Slot> slots_;
};

}  // namespace vona::py

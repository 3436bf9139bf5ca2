// A compact open-addressing hash map with a random seed per map.
//
// String keys are looked up by std::string_view, so a byte range of a larger
// text can be found without building a string. Linear probing over a
// power-of-two table; each slot keeps 32 bits of the hash so that most
// mismatches are rejected without touching the key.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vona {

inline uint64_t hash_mix(uint64_t a, uint64_t b) {
    __uint128_t r = static_cast<__uint128_t>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline uint64_t hash_bytes(const void* data, size_t n, uint64_t seed) {
    constexpr uint64_t K0 = 0xa0761d6478bd642full, K1 = 0xe7037ed1a0b428dbull, K2 = 0x8ebc6af09c88c6e3ull;
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t h = seed ^ (n * K0);
    auto load64 = [](const unsigned char* q) {
        uint64_t v;
        std::memcpy(&v, q, 8);
        return v;
    };
    while (n > 16) {
        h = hash_mix(load64(p) ^ K1, load64(p + 8) ^ h);
        p += 16;
        n -= 16;
    }
    uint64_t a = 0, b = 0;
    if (n >= 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        uint32_t x, y;
        std::memcpy(&x, p, 4);
        std::memcpy(&y, p + n - 4, 4);
        a = x;
        b = y;
    } else if (n > 0) {
        a = (uint64_t(p[0]) << 16) | (uint64_t(p[n >> 1]) << 8) | p[n - 1];
    }
    return hash_mix(a ^ K1 ^ h, b ^ K2 ^ n);
}

inline uint64_t hash_u64(uint64_t x, uint64_t seed) { return hash_mix(x ^ 0xe7037ed1a0b428dbull, seed ^ 0x8ebc6af09c88c6e3ull); }

// A fresh random seed (per map, so iteration orders differ between maps).
uint64_t random_seed();

template <class K>
struct MapKeyTraits;

template <>
struct MapKeyTraits<std::string> {
    using Lookup = std::string_view;
    static uint64_t hash(std::string_view k, uint64_t seed) { return hash_bytes(k.data(), k.size(), seed); }
    static bool equal(const std::string& a, std::string_view b) { return a.size() == b.size() && std::memcmp(a.data(), b.data(), b.size()) == 0; }
};

template <>
struct MapKeyTraits<uint32_t> {
    using Lookup = uint32_t;
    static uint64_t hash(uint32_t k, uint64_t seed) { return hash_u64(k, seed); }
    static bool equal(uint32_t a, uint32_t b) { return a == b; }
};

template <class K, class V>
class HashMap {
    using Traits = MapKeyTraits<K>;
    using Lookup = typename Traits::Lookup;

public:
    struct Entry {
        K key;
        V value;
    };

    HashMap() : seed_(random_seed()) {}
    explicit HashMap(size_t expected) : seed_(random_seed()) { reserve(expected); }
    HashMap(const HashMap&) = default;
    HashMap& operator=(const HashMap&) = default;
    // A moved-from map is left empty and usable (its size must match its table).
    HashMap(HashMap&& o) noexcept
        : seed_(o.seed_), size_(std::exchange(o.size_, 0)), tags_(std::move(o.tags_)), slots_(std::move(o.slots_)) {
        o.tags_.clear();
        o.slots_.clear();
    }
    HashMap& operator=(HashMap&& o) noexcept {
        if (this != &o) {
            seed_ = o.seed_;
            size_ = std::exchange(o.size_, 0);
            tags_ = std::move(o.tags_);
            slots_ = std::move(o.slots_);
            o.tags_.clear();
            o.slots_.clear();
        }
        return *this;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Room for n entries without regrowing.
    void reserve(size_t n) {
        size_t want = 8;
        while (want * 3 / 4 < n) want <<= 1;
        if (want > tags_.size()) rehash(want);
    }

    const V* find(Lookup k) const {
        if (size_ == 0) return nullptr;
        uint64_t h = Traits::hash(k, seed_);
        uint32_t tag = tag_of(h);
        size_t mask = tags_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            uint32_t t = tags_[i];
            if (t == 0) return nullptr;
            if (t == tag && Traits::equal(slots_[i].key, k)) return &slots_[i].value;
        }
    }
    V* find(Lookup k) { return const_cast<V*>(static_cast<const HashMap*>(this)->find(k)); }

    // The value for k, inserted as V{} when absent.
    V& operator[](Lookup k) {
        if ((size_ + 1) * 4 > tags_.size() * 3) rehash(tags_.empty() ? 8 : tags_.size() * 2);
        uint64_t h = Traits::hash(k, seed_);
        uint32_t tag = tag_of(h);
        size_t mask = tags_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            uint32_t t = tags_[i];
            if (t == 0) {
                tags_[i] = tag;
                slots_[i].key = K(k);
                slots_[i].value = V{};
                ++size_;
                return slots_[i].value;
            }
            if (t == tag && Traits::equal(slots_[i].key, k)) return slots_[i].value;
        }
    }

    // Inserts or replaces.
    void insert_or_assign(Lookup k, V v) { (*this)[k] = std::move(v); }

    template <class F>
    void for_each(F&& f) const {
        for (size_t i = 0; i < tags_.size(); ++i)
            if (tags_[i]) f(slots_[i].key, slots_[i].value);
    }

private:
    static uint32_t tag_of(uint64_t h) { return static_cast<uint32_t>(h >> 32) | 1u; }

    void rehash(size_t cap) {
        std::vector<uint32_t> old_tags(cap, 0);
        std::vector<Entry> old_slots(cap);
        old_tags.swap(tags_);
        old_slots.swap(slots_);
        size_t mask = cap - 1;
        for (size_t j = 0; j < old_tags.size(); ++j) {
            if (!old_tags[j]) continue;
            uint64_t h = Traits::hash(Lookup(old_slots[j].key), seed_);
            size_t i = h & mask;
            while (tags_[i]) i = (i + 1) & mask;
            tags_[i] = old_tags[j];
            slots_[i] = std::move(old_slots[j]);
        }
    }

    uint64_t seed_;
    size_t size_ = 0;
    std::vector<uint32_t> tags_;
    std::vector<Entry> slots_;
};

}  // namespace vona

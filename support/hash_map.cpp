#include "hash_map.h"

#include <atomic>
#include <chrono>
#include <random>

namespace vona {

uint64_t random_seed() {
    // One draw from the OS per thread, then a cheap counter-based sequence.
    static std::atomic<uint64_t> counter{0};
    thread_local uint64_t base = [] {
        std::random_device rd;
        return (uint64_t(rd()) << 32) ^ rd() ^
               uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    uint64_t n = counter.fetch_add(1, std::memory_order_relaxed);
    return hash_mix(base ^ 0x9e3779b97f4a7c15ull, n + 0xd6e8feb86659fd93ull);
}

}  // namespace vona

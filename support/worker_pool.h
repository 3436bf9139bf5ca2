// The process-wide worker pool: parallel maps over an index range.
//
// Created on the first parallel call, shared by every caller thread, never
// shut down; a child process forked after the pool was started builds a new
// pool on its next parallel call.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace vona {

// Runs body(i) for every i in [0, n), each exactly once, on the pool's
// workers; blocks until every piece is done. If some body threw, the first
// exception is rethrown here after all pieces have finished.
void parallel_for(size_t n, const std::function<void(size_t)>& body);

// Number of workers the pool has (or will have when created).
size_t pool_worker_count();

// out[i] = op(items[i]) in parallel; results in input order.
template <class In, class Op>
auto run_batch(const std::vector<In>& items, Op&& op) -> std::vector<decltype(op(items[0]))> {
    std::vector<decltype(op(items[0]))> out(items.size());
    parallel_for(items.size(), [&](size_t i) { out[i] = op(items[i]); });
    return out;
}

}  // namespace vona

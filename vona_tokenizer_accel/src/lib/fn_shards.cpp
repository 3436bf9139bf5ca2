// count_frequencies: token frequencies of gzip JSON-lines shards, on the pool.
#include "entry_points.h"
#include "shard_counter.h"

namespace vona::py {

PyObject* count_frequencies(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"shard_paths", "boost_weight", "max_token_len"};
        auto a = bind("count_frequencies()", names, args, kwargs);
        std::vector<std::string> shard_paths = paths("shard_paths", a[0]);
        double boost_weight = real_number("boost_weight", a[1]);
        uint64_t max_token_len = count_limit("max_token_len", a[2]);
        auto result = without_lock([&] { return shard::count_frequencies(shard_paths, boost_weight, max_token_len); });
        if (!result) raise(PyExc_OSError, result.error().message);
        Ref dict(checked(PyDict_New()));
        result.value().for_each([&](const std::string& token, uint64_t count) {
            dict_set(dict.get(), token, to_int(count));
        });
        return dict.release();
    });
}

}  // namespace vona::py

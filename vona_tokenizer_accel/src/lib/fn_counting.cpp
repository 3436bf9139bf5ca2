// count_in_text: token counts and identifier-part boosts of one text, as dicts.
#include <algorithm>
#include <string>

#include "counting.h"
#include "entry_points.h"

namespace vona::py {

PyObject* count_in_text(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text", "boost_weight", "max_token_len"};
        auto a = bind("count_in_text()", names, args, kwargs);
        std::string text = py::text("text", a[0]);
        double boost_weight = real_number("boost_weight", a[1]);
        uint64_t max_token_len = count_limit("max_token_len", a[2]);
        core::TokenCounts counts = without_lock([&] {
            core::TokenCounts c;
            // Start the maps near their final size instead of regrowing them
            // from 8: a document of source code or prose holds about one
            // distinct token per 12 bytes and one distinct part per 32.
            c.counts.reserve(std::min<size_t>(text.size() / 12, 1 << 16));
            if (boost_weight > 0.0) c.boosts.reserve(std::min<size_t>(text.size() / 32, 1 << 14));
            core::count_tokens_into(text, c, max_token_len, boost_weight);
            return c;
        });
        Ref counter(checked(PyDict_New()));
        counts.counts.for_each([&](const std::string& k, uint64_t v) { dict_set(counter.get(), k, to_int(v)); });
        Ref boosts(checked(PyDict_New()));
        counts.boosts.for_each([&](const std::string& k, double v) { dict_set(boosts.get(), k, to_float(v)); });
        Ref pair(checked(PyTuple_New(2)));
        if (PyTuple_SetItem(pair.get(), 0, counter.release()) < 0) api_failed();
        if (PyTuple_SetItem(pair.get(), 1, boosts.release()) < 0) api_failed();
        return pair.release();
    });
}

}  // namespace vona::py

// Module functions of the PUA substitution: the test for a private-use
// character, the pretokenizer and the reverse substitution, single and batch.
#include <string>
#include <vector>

#include "entry_points.h"
#include "prepared_mapping.h"
#include "str_cache.h"
#include "utf8.h"
#include "worker_pool.h"

namespace vona::py {

PyObject* is_pua_char(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"s"};
        auto a = bind("is_pua_char()", names, args, kwargs);
        std::string_view s = text_view("s", a[0]);  // constant time: keep the lock and borrow
        if (s.empty()) return to_bool(false);
        size_t len;
        uint32_t cp = utf8::decode(s, 0, len);
        return to_bool(len == s.size() && core::is_pua(cp));
    });
}

PyObject* vona_split_text(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text", "prepared"};
        auto a = bind("vona_split_text()", names, args, kwargs);
        std::string text = py::text("text", a[0]);
        PreparedArg prepared = prepared_arg("prepared", a[1]);
        auto pieces = without_lock([&] { return core::split_text(text, prepared.mapping()); });
        // Gaps and short parts repeat a lot: share equal str objects.
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(pieces.size()))));
        StrCache cache(pieces.size());  // borrowed references, all kept alive by list
        for (size_t i = 0; i < pieces.size(); ++i)
            if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), cache.get(pieces[i])) < 0) api_failed();
        return list.release();
    });
}

PyObject* pretokenize_to_string(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text", "prepared"};
        auto a = bind("pretokenize_to_string()", names, args, kwargs);
        std::string text = py::text("text", a[0]);
        PreparedArg prepared = prepared_arg("prepared", a[1]);
        auto out = without_lock([&] { return core::pretokenize(text, prepared.mapping()); });
        return to_str(out);
    });
}

PyObject* pretokenize_batch(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"texts", "prepared"};
        auto a = bind("pretokenize_batch()", names, args, kwargs);
        std::vector<std::string> items = texts("texts", a[0]);
        PreparedArg prepared = prepared_arg("prepared", a[1]);
        const core::PuaMapping& m = prepared.mapping();
        auto out = without_lock(
            [&] { return run_batch(items, [&m](const std::string& t) { return core::pretokenize(t, m); }); });
        return to_str_list(out);
    });
}

PyObject* reverse_pua_substitute(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text", "prepared"};
        auto a = bind("reverse_pua_substitute()", names, args, kwargs);
        std::string text = py::text("text", a[0]);
        PreparedArg prepared = prepared_arg("prepared", a[1]);
        auto out = without_lock([&] { return core::reverse_pua(text, prepared.mapping()); });
        return to_str(out);
    });
}

PyObject* reverse_pua_batch(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"texts", "prepared"};
        auto a = bind("reverse_pua_batch()", names, args, kwargs);
        std::vector<std::string> items = texts("texts", a[0]);
        PreparedArg prepared = prepared_arg("prepared", a[1]);
        const core::PuaMapping& m = prepared.mapping();
        auto out = without_lock(
            [&] { return run_batch(items, [&m](const std::string& t) { return core::reverse_pua(t, m); }); });
        return to_str_list(out);
    });
}

}  // namespace vona::py

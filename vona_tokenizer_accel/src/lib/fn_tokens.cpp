// Module functions of the token pattern and the identifier rules.
#include <vector>

#include "entry_points.h"
#include "identifier.h"
#include "str_cache.h"
#include "tokens.h"

namespace vona::py {

PyObject* iter_token_strings(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text"};
        auto a = bind("iter_token_strings()", names, args, kwargs);
        // The owned copy holds every token's bytes; the scan records where they are.
        const std::string text = py::text("text", a[0]);
        struct Span {
            size_t start, end;
        };
        auto spans = without_lock([&] {
            std::vector<Span> out;
            out.reserve(text.size() / 8 + 16);
            core::TokenIterator it(text);
            size_t s, e;
            while (it.next(s, e)) out.push_back({s, e});
            return out;
        });
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(spans.size()))));
        StrCache cache(spans.size());  // borrowed references, all kept alive by list
        for (size_t i = 0; i < spans.size(); ++i) {
            std::string_view tok(text.data() + spans[i].start, spans[i].end - spans[i].start);
            if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), cache.get(tok)) < 0) api_failed();
        }
        return list.release();
    });
}

PyObject* is_identifier(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"s"};
        auto a = bind("is_identifier()", names, args, kwargs);
        std::string_view s = text_view("s", a[0]);  // a short scan: keep the lock and borrow
        return to_bool(core::is_identifier(s));
    });
}

PyObject* split_identifier(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"ident"};
        auto a = bind("split_identifier()", names, args, kwargs);
        std::string ident = text("ident", a[0]);
        auto parts = without_lock([&] { return core::split_identifier(ident); });
        return to_str_list(parts);
    });
}

}  // namespace vona::py

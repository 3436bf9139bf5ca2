// has_secret: the name of the first credential shape found in a text.
#include <string>

#include "entry_points.h"
#include "secrets.h"

namespace vona::py {

PyObject* has_secret(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text"};
        auto a = bind("has_secret()", names, args, kwargs);
        std::string_view view = text_view("text", a[0]);
        // Too short for any shape: not worth a copy and a lock round trip.
        if (view.size() < core::SECRET_MIN_LENGTH) Py_RETURN_NONE;
        const std::string text(view);
        int index = without_lock([&] { return core::SECRET_PATTERNS().first_match(text); });
        if (index < 0) Py_RETURN_NONE;
        return to_str(core::SECRET_PATTERN_NAMES[static_cast<size_t>(index)]);
    });
}

}  // namespace vona::py

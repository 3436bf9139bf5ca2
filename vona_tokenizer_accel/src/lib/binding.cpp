#include "binding.h"

#include <cstring>

namespace vona::py {

void raise(PyObject* exc_type, const std::string& message) {
    PyErr_SetString(exc_type, message.c_str());
    throw PyErrorSet{};
}

void api_failed() {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    // A failed allocation in CPython stays a MemoryError.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) raise();
    PyErr_Print();
    throw InternalFailure("Python API call failed");
}

// ---- InternalError ----------------------------------------------------

static PyObject* internal_error_class() {
    // Created once per process; the lock serialises the first creation.
    static PyObject* cls = nullptr;
    if (!cls) {
        cls = PyErr_NewExceptionWithDoc(
            "_vona_native.InternalError",
            "Raised when native code of vona_tokenizer fails internally (a broken invariant).\n\n"
            "It derives from BaseException, not Exception, so that ordinary\n"
            "'except Exception' handlers do not swallow a bug in the native module.",
            PyExc_BaseException, nullptr);
    }
    return cls;
}

void set_internal_error(const std::string& message) {
    PyObject* cls = internal_error_class();
    if (!cls) return;  // creating the class failed; its exception is set
    const std::string& text = message.empty() ? std::string("internal failure in native code") : message;
    PyObject* arg = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!arg) return;
    PyErr_SetObject(cls, arg);
    Py_DECREF(arg);
}

// ---- Argument binding -------------------------------------------------

static std::string quoted_name(const char* n) { return std::string("'") + n + "'"; }

void bind_args(const char* callable, const char* const* names, size_t n, PyObject* args, PyObject* kwargs,
               PyObject** out) {
    for (size_t i = 0; i < n; ++i) out[i] = nullptr;
    Py_ssize_t k = args ? PyTuple_Size(args) : 0;
    if (k < 0) raise();
    if (static_cast<size_t>(k) > n) {
        std::string m = callable;
        m += " takes " + std::to_string(n) + " positional arguments but " + std::to_string(k) +
             (k == 1 ? " was" : " were") + " given";
        raise(PyExc_TypeError, m);
    }
    for (Py_ssize_t i = 0; i < k; ++i) out[i] = PyTuple_GetItem(args, i);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            const char* kname = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, nullptr) : nullptr;
            if (!kname) {
                PyErr_Clear();
                raise(PyExc_TypeError, std::string(callable) + " keywords must be strings");
            }
            size_t j = 0;
            while (j < n && std::strcmp(names[j], kname) != 0) ++j;
            if (j == n)
                raise(PyExc_TypeError,
                      std::string(callable) + " got an unexpected keyword argument " + quoted_name(kname));
            if (out[j])
                raise(PyExc_TypeError,
                      std::string(callable) + " got multiple values for argument " + quoted_name(kname));
            out[j] = value;
        }
    }
    std::vector<const char*> missing;
    for (size_t i = 0; i < n; ++i)
        if (!out[i]) missing.push_back(names[i]);
    if (missing.empty()) return;
    std::string m = callable;
    m += " missing " + std::to_string(missing.size()) + " required positional " +
         (missing.size() == 1 ? "argument" : "arguments") + ": ";
    if (missing.size() == 1) {
        m += quoted_name(missing[0]);
    } else if (missing.size() == 2) {
        m += quoted_name(missing[0]) + " and " + quoted_name(missing[1]);
    } else {
        for (size_t i = 0; i + 1 < missing.size(); ++i) m += quoted_name(missing[i]) + ", ";
        m += "and " + quoted_name(missing.back());
    }
    raise(PyExc_TypeError, m);
}

// ---- Argument kinds ---------------------------------------------------

std::string type_name(PyObject* o) {
    PyObject* q = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__qualname__");
    if (q) {
        Py_ssize_t len;
        const char* s = PyUnicode_Check(q) ? PyUnicode_AsUTF8AndSize(q, &len) : nullptr;
        if (s) {
            std::string r(s, static_cast<size_t>(len));
            Py_DECREF(q);
            return r;
        }
        Py_DECREF(q);
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

void raise_cannot_convert(const char* name, PyObject* o, const char* target) {
    std::string m;
    if (name) m = std::string("argument '") + name + "': ";
    m += "'" + type_name(o) + "' object cannot be converted to '" + target + "'";
    raise(PyExc_TypeError, m);
}

void raise_with_prefix(const char* name) {
    if (!PyErr_Occurred()) raise();
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) raise();
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type != PyExc_TypeError) {  // a subclass keeps its own message
        PyErr_Restore(type, value, tb);
        raise();
    }
    PyErr_NormalizeException(&type, &value, &tb);
    Ref old_type(type), old_value(value), old_tb(tb);
    Ref text(PyObject_Str(value));
    const char* msg = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (!msg) raise();
    std::string m = std::string("argument '") + name + "': " + msg;
    Ref replacement(PyObject_CallFunction(PyExc_TypeError, "s", m.c_str()));
    if (!replacement) raise();
    if (PyObject* cause = PyException_GetCause(value)) PyException_SetCause(replacement.get(), cause);
    PyErr_SetObject(PyExc_TypeError, replacement.get());
    raise();
}

std::string_view text_view(const char* name, PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(name, o, "PyString");
    Py_ssize_t len;
    const char* s = PyUnicode_AsUTF8AndSize(o, &len);
    if (!s) raise();  // lone surrogate: UnicodeEncodeError passes unchanged
    return {s, static_cast<size_t>(len)};
}

std::vector<std::string> texts(const char* name, PyObject* o) {
    std::vector<std::string> out;
    size_t hint = 0;
    bool reserved = false;
    for_each_item(name, o, hint, [&](PyObject* item) {
        if (!reserved) {
            out.reserve(hint);
            reserved = true;
        }
        out.emplace_back(text_view(name, item));
    });
    return out;
}

static uint32_t token_id(const char* name, PyObject* item) {
    long v = PyLong_AsLong(item);
    if (v == -1 && PyErr_Occurred()) raise_with_prefix(name);
    if (v < 0 || static_cast<unsigned long>(v) > 0xFFFFFFFFul)
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    return static_cast<uint32_t>(v);
}

std::vector<uint32_t> token_ids(const char* name, PyObject* o) {
    std::vector<uint32_t> out;
    size_t hint = 0;
    bool reserved = false;
    for_each_item(name, o, hint, [&](PyObject* item) {
        if (!reserved) {
            out.reserve(hint);
            reserved = true;
        }
        out.push_back(token_id(name, item));
    });
    return out;
}

std::vector<std::vector<uint32_t>> id_lists(const char* name, PyObject* o) {
    std::vector<std::vector<uint32_t>> out;
    size_t hint = 0;
    bool reserved = false;
    for_each_item(name, o, hint, [&](PyObject* item) {
        if (!reserved) {
            out.reserve(hint);
            reserved = true;
        }
        out.push_back(token_ids(name, item));
    });
    return out;
}

void dict_check(const char* name, PyObject* o) {
    if (!PyDict_Check(o)) raise_cannot_convert(name, o, "PyDict");
}

double real_number(const char* name, PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) raise_with_prefix(name);
    return v;
}

uint64_t count_limit(const char* name, PyObject* o) {
    Ref index;
    if (!PyLong_Check(o)) {
        index = Ref(PyNumber_Index(o));
        if (!index) raise_with_prefix(name);
        o = index.get();
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_with_prefix(name);
    return v;
}

std::vector<std::string> paths(const char* name, PyObject* o) {
    std::vector<std::string> out;
    size_t hint = 0;
    bool reserved = false;
    for_each_item(name, o, hint, [&](PyObject* item) {
        if (!reserved) {
            out.reserve(hint);
            reserved = true;
        }
        Ref path(PyOS_FSPath(item));
        if (!path) raise_with_prefix(name);
        if (!PyUnicode_Check(path.get())) raise_cannot_convert(name, path.get(), "PyString");
        Ref encoded(PyUnicode_EncodeFSDefault(path.get()));
        if (!encoded) raise();
        char* data;
        Py_ssize_t len;
        if (PyBytes_AsStringAndSize(encoded.get(), &data, &len) < 0) raise();
        out.emplace_back(data, static_cast<size_t>(len));
    });
    return out;
}

// ---- Results ----------------------------------------------------------

void dict_set(PyObject* d, std::string_view key, PyObject* value) {
    Ref v(value);
    Ref k(to_str(key));
    if (PyDict_SetItem(d, k.get(), v.get()) < 0) raise();
}

void check_receiver(PyObject* self, PyObject* cls, const char* class_name) {
    if (!self || !PyType_IsSubtype(Py_TYPE(self), reinterpret_cast<PyTypeObject*>(cls))) {
        std::string m = "'" + (self ? type_name(self) : std::string("NULL")) + "' object cannot be converted to '" +
                        class_name + "'";
        raise(PyExc_TypeError, m);
    }
}

}  // namespace vona::py

// The Python side of every entry point: argument binding, argument kinds,
// result conversion, the call wrapper and the interpreter-lock guard.
//
// This is the only code (with the rest of this folder) that sees Python.h.
// Every function body runs inside guarded(): it throws PyErrorSet when a
// Python exception is pending, vona::InternalFailure for a broken invariant,
// std::bad_alloc when memory runs out; guarded() turns each into the
// right Python exception and a NULL return.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.h"

namespace vona::py {

// A Python exception is set; unwind to the call wrapper.
struct PyErrorSet {};

[[noreturn]] inline void raise() { throw PyErrorSet{}; }
[[noreturn]] void raise(PyObject* exc_type, const std::string& message);

// An owned (strong) reference.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}  // steals p
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

    // Steals p; a NULL p means the call failed with a Python exception set.
    static Ref check(PyObject* p) {
        if (!p) raise();
        return Ref(p);
    }

private:
    PyObject* p_ = nullptr;
};

// ---- The call wrapper -------------------------------------------------

void set_internal_error(const std::string& message);

// Runs body (returning PyObject* new reference, or NULL with an exception
// set) and maps every failure to a Python exception.
template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const PyErrorSet&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const InternalFailure& f) {
        set_internal_error(f.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        set_internal_error("native code failed with an unexpected exception");
    }
    return nullptr;
}

// The same for slots that return a size (-1 on failure).
template <class F>
Py_ssize_t guarded_size(F&& body) noexcept {
    try {
        return body();
    } catch (const PyErrorSet&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const InternalFailure& f) {
        set_internal_error(f.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        set_internal_error("native code failed with an unexpected exception");
    }
    return -1;
}

// ---- The interpreter lock ---------------------------------------------

// Releases the interpreter lock for its lifetime. Nothing in its scope may
// touch a Python object. The lock is taken back also when the scope is left
// by an exception, before the call wrapper turns it into a Python exception.
class Unlocked {
public:
    Unlocked() : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    PyThreadState* state_;
};

// Runs f without the interpreter lock and returns its result.
template <class F>
auto without_lock(F&& f) {
    Unlocked unlocked;
    return f();
}

// ---- Argument binding -------------------------------------------------

// Binds positional and keyword arguments to the named parameters, all
// required. callable is the name used in messages ("f()" or "Class.m()").
void bind_args(const char* callable, const char* const* names, size_t n, PyObject* args, PyObject* kwargs,
               PyObject** out);

template <size_t N>
struct Bound {
    PyObject* v[N];
    PyObject* operator[](size_t i) const { return v[i]; }
};

template <size_t N>
Bound<N> bind(const char* callable, const char* const (&names)[N], PyObject* args, PyObject* kwargs) {
    Bound<N> b{};
    bind_args(callable, names, N, args, kwargs, b.v);
    return b;
}

// ---- Argument kinds ---------------------------------------------------
// Each takes the parameter's name (for messages) and the bound object and
// either returns the native value or raises the kind's refusal.

// __qualname__ of o's type, or "<failed to extract type name>".
std::string type_name(PyObject* o);

// TypeError "'{type}' object cannot be converted to '{target}'" (with the
// "argument '{name}': " prefix when name is not null).
[[noreturn]] void raise_cannot_convert(const char* name, PyObject* o, const char* target);

// The prefix rule: a pending exception of exactly TypeError becomes
// TypeError("argument '{name}': {message}") with the same cause.
[[noreturn]] void raise_with_prefix(const char* name);

// text: a str or subclass. The view borrows the string's UTF-8 buffer and is
// valid only while the lock is held and the object alive.
std::string_view text_view(const char* name, PyObject* o);
inline std::string text(const char* name, PyObject* o) { return std::string(text_view(name, o)); }

// The container part of the list kinds: a sequence that is not a str. Calls
// item(PyObject* borrowed_item) for each element in iteration order.
// size_hint receives PySequence_Size (or 0 when that fails).
template <class F>
void for_each_item(const char* name, PyObject* o, size_t& size_hint, F&& item);

// list of texts
std::vector<std::string> texts(const char* name, PyObject* o);
// list of token ids
std::vector<uint32_t> token_ids(const char* name, PyObject* o);
// list of id lists
std::vector<std::vector<uint32_t>> id_lists(const char* name, PyObject* o);
// dict: a dict or subclass (entries are read by the caller with PyDict_Next)
void dict_check(const char* name, PyObject* o);
// real number
double real_number(const char* name, PyObject* o);
// count limit
uint64_t count_limit(const char* name, PyObject* o);
// list of paths: file-system encoded bytes of each path
std::vector<std::string> paths(const char* name, PyObject* o);

// ---- Result conversions -----------------------------------------------
// These treat CPython as infallible: a failure other than MemoryError is
// printed and becomes InternalError "Python API call failed".

[[noreturn]] void api_failed();
inline PyObject* checked(PyObject* p) {
    if (!p) api_failed();
    return p;
}

inline PyObject* to_bool(bool b) { return Py_NewRef(b ? Py_True : Py_False); }
inline PyObject* to_int(uint64_t v) { return checked(PyLong_FromUnsignedLongLong(v)); }
inline PyObject* to_float(double v) { return checked(PyFloat_FromDouble(v)); }
inline PyObject* to_str(std::string_view s) {
    return checked(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

// A list of exactly items.size() elements, element i = convert(items[i]).
template <class T, class F>
PyObject* to_list(const std::vector<T>& items, F&& convert) {
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (size_t i = 0; i < items.size(); ++i)
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), convert(items[i])) < 0) api_failed();
    return list.release();
}

inline PyObject* to_str_list(const std::vector<std::string>& items) {
    return to_list(items, [](const std::string& s) { return to_str(s); });
}

inline PyObject* to_id_list(const std::vector<uint32_t>& ids) {
    return to_list(ids, [](uint32_t id) { return to_int(id); });
}

// Sets d[key] = value (value is stolen). Insertion failures are raised.
void dict_set(PyObject* d, std::string_view key, PyObject* value);

// ---- Receiver test ----------------------------------------------------

// Raises "'{type}' object cannot be converted to '{class_name}'" unless self
// is an instance of cls.
void check_receiver(PyObject* self, PyObject* cls, const char* class_name);

// ---- Template definitions ---------------------------------------------

template <class F>
void for_each_item(const char* name, PyObject* o, size_t& size_hint, F&& item) {
    if (PyUnicode_Check(o)) {
        std::string m = "argument '";
        m += name;
        m += "': a str cannot be taken as a list; pass a list of values instead";
        raise(PyExc_TypeError, m);
    }
    if (!PySequence_Check(o)) raise_cannot_convert(name, o, "Sequence");
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_Clear();
        n = 0;
    }
    size_hint = static_cast<size_t>(n);
    // Exact lists and tuples: walk by index, as their iterators do (the size
    // is read again at every step), without creating an iterator object.
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        const bool is_list = PyList_CheckExact(o);
        for (Py_ssize_t i = 0;; ++i) {
            Py_ssize_t size = is_list ? PyList_Size(o) : PyTuple_Size(o);
            if (i >= size) break;
            PyObject* raw = is_list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i);
            if (!raw) raise();
            Ref element(Py_NewRef(raw));  // the conversion may run code that changes the list
            item(element.get());
        }
        return;
    }
    Ref it(PyObject_GetIter(o));
    if (!it) raise_with_prefix(name);
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref element(raw);
        item(element.get());
    }
    if (PyErr_Occurred()) raise_with_prefix(name);
}

}  // namespace vona::py

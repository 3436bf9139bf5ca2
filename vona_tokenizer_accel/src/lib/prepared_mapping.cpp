// PreparedMapping: converts the two dicts of a Python-side PUA assignment
// into native maps once, so that the many calls that use them do not.
#include "prepared_mapping.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "entry_points.h"
#include "utf8.h"

namespace vona::py {
namespace {

struct PreparedMappingObject {
    PyObject ob_base;
    core::PuaMapping mapping;  // constructed in place by tp_new, destroyed by tp_dealloc
};

PreparedMappingObject* as_prepared(PyObject* o) { return reinterpret_cast<PreparedMappingObject*>(o); }

// A str (or subclass) as UTF-8; anything else is refused without an argument
// prefix, since the offending object is an entry, not an argument.
std::string_view entry_text(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(nullptr, o, "PyString");
    Py_ssize_t len;
    const char* s = PyUnicode_AsUTF8AndSize(o, &len);
    if (!s) raise();  // lone surrogate: UnicodeEncodeError
    return {s, static_cast<size_t>(len)};
}

// True when the non-empty s is exactly one code point, which goes to cp.
bool single_char(std::string_view s, uint32_t& cp) {
    size_t len;
    cp = utf8::decode(s, 0, len);
    return len == s.size();
}

PyObject* prepared_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"word_to_pua", "pua_to_word"};
        auto a = bind("PreparedMapping.__new__()", names, args, kwargs);
        // Both type tests come before any entry is read.
        dict_check("word_to_pua", a[0]);
        dict_check("pua_to_word", a[1]);

        std::vector<std::pair<std::string, uint32_t>> word_to_char;
        Py_ssize_t n = PyDict_Size(a[0]);
        word_to_char.reserve(n > 0 ? static_cast<size_t>(n) : 0);
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(a[0], &pos, &key, &value)) {
            std::string_view word = entry_text(key);
            std::string_view ch = entry_text(value);
            if (ch.empty()) raise(PyExc_ValueError, "word_to_pua value must be a non-empty string");
            uint32_t cp;
            if (!single_char(ch, cp)) raise(PyExc_ValueError, "word_to_pua value must be a single character");
            word_to_char.emplace_back(std::string(word), cp);
        }

        std::vector<std::pair<uint32_t, std::string>> char_to_word;
        n = PyDict_Size(a[1]);
        char_to_word.reserve(n > 0 ? static_cast<size_t>(n) : 0);
        pos = 0;
        while (PyDict_Next(a[1], &pos, &key, &value)) {
            std::string_view ch = entry_text(key);
            if (ch.empty()) raise(PyExc_ValueError, "pua_to_word key must be a non-empty string");
            uint32_t cp;
            if (!single_char(ch, cp)) raise(PyExc_ValueError, "pua_to_word key must be a single character");
            std::string_view word = entry_text(value);
            char_to_word.emplace_back(cp, std::string(word));
        }

        core::PuaMapping mapping = core::PuaMapping::from_pairs(std::move(word_to_char), std::move(char_to_word));
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        if (!alloc) {
            PyErr_Clear();
            alloc = PyType_GenericAlloc;
        }
        PyObject* self = alloc(type, 0);
        if (!self) raise();
        new (&as_prepared(self)->mapping) core::PuaMapping(std::move(mapping));
        return self;
    });
}

void prepared_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_prepared(self)->mapping.~PuaMapping();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);  // instances of a heap type own a reference to it
}

Py_ssize_t prepared_length(PyObject* self) {
    return guarded_size([&]() -> Py_ssize_t {
        check_receiver(self, prepared_mapping_type(), "PreparedMapping");
        return static_cast<Py_ssize_t>(as_prepared(self)->mapping.word_to_pua.size());
    });
}

PyObject* prepared_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        check_receiver(self, prepared_mapping_type(), "PreparedMapping");
        const core::PuaMapping& m = as_prepared(self)->mapping;
        std::string r = "<PreparedMapping size=" + std::to_string(m.word_to_pua.size()) +
                        " pua_chars=" + std::to_string(m.pua_to_word.size()) + ">";
        return to_str(r);
    });
}

const char DOC[] =
    "PreparedMapping(word_to_pua, pua_to_word)\n--\n\n"
    "The cached native form of a PUAMapping. Its two hash maps are built once from the\n"
    "dicts and reused by every call that takes it, so the cost of converting dicts into\n"
    "maps is spread over many encode and decode calls. Later changes to the dicts do not\n"
    "reach it; build a new one to take them up.";

PyType_Slot SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(&prepared_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&prepared_dealloc)},
    {Py_tp_doc, const_cast<char*>(DOC)},
    {Py_mp_length, reinterpret_cast<void*>(&prepared_length)},
    {Py_tp_repr, reinterpret_cast<void*>(&prepared_repr)},
    {0, nullptr},
};

PyType_Spec SPEC = {
    "vona_tokenizer._accel.PreparedMapping",
    static_cast<int>(sizeof(PreparedMappingObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    SLOTS,
};

}  // namespace

PyObject* prepared_mapping_type() {
    // Created once per process; the interpreter lock serialises the first call.
    static PyObject* type = nullptr;
    if (!type) {
        type = PyType_FromSpec(&SPEC);
        if (!type) raise();
    }
    return type;
}

PreparedArg prepared_arg(const char* name, PyObject* o) {
    PyObject* type = prepared_mapping_type();
    if (!PyType_IsSubtype(Py_TYPE(o), reinterpret_cast<PyTypeObject*>(type)))
        raise_cannot_convert(name, o, "PreparedMapping");
    return PreparedArg(Ref(Py_NewRef(o)), &as_prepared(o)->mapping);
}

}  // namespace vona::py

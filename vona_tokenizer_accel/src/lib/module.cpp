// Module entry: the single-interpreter guard, the module slot and the
// registration of the classes and functions.
#include <atomic>

#include "binding.h"
#include "entry_points.h"

namespace vona::py {
namespace {

#define VONA_FN(name) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&name))

PyMethodDef FUNCTIONS[] = {
    {"iter_token_strings", VONA_FN(iter_token_strings), METH_VARARGS | METH_KEYWORDS,
     "iter_token_strings(text)\n--\n\n"},
    {"is_identifier", VONA_FN(is_identifier), METH_VARARGS | METH_KEYWORDS, "is_identifier(s)\n--\n\n"},
    {"split_identifier", VONA_FN(split_identifier), METH_VARARGS | METH_KEYWORDS, "split_identifier(ident)\n--\n\n"},
    {"is_pua_char", VONA_FN(is_pua_char), METH_VARARGS | METH_KEYWORDS, "is_pua_char(s)\n--\n\n"},
    {"vona_split_text", VONA_FN(vona_split_text), METH_VARARGS | METH_KEYWORDS,
     "vona_split_text(text, prepared)\n--\n\n"},
    {"pretokenize_to_string", VONA_FN(pretokenize_to_string), METH_VARARGS | METH_KEYWORDS,
     "pretokenize_to_string(text, prepared)\n--\n\n"},
    {"pretokenize_batch", VONA_FN(pretokenize_batch), METH_VARARGS | METH_KEYWORDS,
     "pretokenize_batch(texts, prepared)\n--\n\n"
     "Pre-tokenize every text in parallel on the worker pool and return a list of str in the\n"
     "order of the input. It exists to remove the per-item Python call overhead of a\n"
     "Python-side batch loop."},
    {"reverse_pua_substitute", VONA_FN(reverse_pua_substitute), METH_VARARGS | METH_KEYWORDS,
     "reverse_pua_substitute(text, prepared)\n--\n\n"},
    {"reverse_pua_batch", VONA_FN(reverse_pua_batch), METH_VARARGS | METH_KEYWORDS,
     "reverse_pua_batch(texts, prepared)\n--\n\n"
     "Batch form of reverse_pua_substitute: every text in parallel on the worker pool, results\n"
     "in input order, for the same reason as pretokenize_batch."},
    {"count_in_text", VONA_FN(count_in_text), METH_VARARGS | METH_KEYWORDS,
     "count_in_text(text, boost_weight, max_token_len)\n--\n\n"
     "Count the tokens of a single text and return (counter_delta, boost_delta) as dicts,\n"
     "which the Python-side wrapper merges into its Counter and defaultdict."},
    {"count_frequencies", VONA_FN(count_frequencies), METH_VARARGS | METH_KEYWORDS,
     "count_frequencies(shard_paths, boost_weight, max_token_len)\n--\n\n"
     "Parallel shard frequency counter that replaces a Python process-pool path: reads\n"
     "gzipped JSON-lines shards natively and sums the counts on the work-stealing pool."},
    {"has_secret", VONA_FN(has_secret), METH_VARARGS | METH_KEYWORDS, "has_secret(text)\n--\n\n"},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "_accel", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<int64_t> initialising_interpreter{-1};
PyObject* module_slot = nullptr;  // strong reference, kept for the process

// Appends name to __all__ (created on the first addition), then sets the attribute.
void add_name(PyObject* module, const char* name, PyObject* value) {
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise();
        PyErr_Clear();
        all = Ref::check(PyList_New(0));
        if (PyModule_AddObjectRef(module, "__all__", all.get()) < 0) raise();
    }
    Ref n = Ref::check(PyUnicode_FromString(name));
    if (PyList_Append(all.get(), n.get()) < 0) raise();
    if (PyModule_AddObjectRef(module, name, value) < 0) raise();
}

void module_body(PyObject* module) {
    Ref tag = Ref::check(PyUnicode_FromString("vona-core 1.0.0"));
    add_name(module, "__build_tag__", tag.get());
    add_name(module, "PreparedMapping", prepared_mapping_type());
    add_name(module, "BPEEncoder", bpe_encoder_type());
    Ref modname = Ref::check(PyModule_GetNameObject(module));
    for (PyMethodDef& def : FUNCTIONS) {
        Ref fn = Ref::check(PyCMethod_New(&def, module, modname.get(), nullptr));
        Ref fname = Ref::check(PyObject_GetAttrString(fn.get(), "__name__"));
        const char* s = PyUnicode_AsUTF8AndSize(fname.get(), nullptr);
        if (!s) raise();
        add_name(module, s, fn.get());
    }
}

PyObject* init_module() {
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) raise();
    int64_t expected = -1;
    if (!initialising_interpreter.compare_exchange_strong(expected, id) && expected != id)
        raise(PyExc_ImportError, "vona_tokenizer._accel does not support sub-interpreters");
    if (module_slot) return Py_NewRef(module_slot);
    Ref module = Ref::check(PyModule_Create2(&MODULE_DEF, 3));
    module_body(module.get());
    module_slot = Py_NewRef(module.get());
    return module.release();
}

}  // namespace
}  // namespace vona::py

extern "C" PyMODINIT_FUNC PyInit__accel(void) {
    return vona::py::guarded([] { return vona::py::init_module(); });
}

#include "bpe_encoder.h"

#include <new>
#include <utility>

#include "entry_points.h"

namespace vona::py {
namespace {

#define VONA_METH(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fn))

PyObject* encoder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"tokenizer_json", "vona_mapping_json"};
        auto a = bind("BPEEncoder.__new__()", names, args, kwargs);
        std::string tokenizer_json = text("tokenizer_json", a[0]);
        std::string vona_mapping_json = text("vona_mapping_json", a[1]);
        // The load keeps the interpreter lock: construction is rare, and no
        // half-built instance is ever visible.
        auto loaded = bpe::BpeTokenizer::load(tokenizer_json, vona_mapping_json);
        if (!loaded) raise(PyExc_OSError, loaded.error().message);

        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        if (!alloc) alloc = PyType_GenericAlloc;
        PyObject* obj = alloc(type, 0);
        if (!obj) raise();
        new (&reinterpret_cast<BpeEncoderObject*>(obj)->tokenizer) bpe::BpeTokenizer(std::move(loaded.value()));
        return obj;
    });
}

void encoder_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<BpeEncoderObject*>(self)->tokenizer.~BpeTokenizer();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyMethodDef METHODS[] = {
    {"encode", VONA_METH(bpe_encode), METH_VARARGS | METH_KEYWORDS, "encode($self, text)\n--\n\n"},
    {"encode_batch", VONA_METH(bpe_encode_batch), METH_VARARGS | METH_KEYWORDS, "encode_batch($self, texts)\n--\n\n"},
    {"decode", VONA_METH(bpe_decode), METH_VARARGS | METH_KEYWORDS, "decode($self, ids)\n--\n\n"},
    {"decode_batch", VONA_METH(bpe_decode_batch), METH_VARARGS | METH_KEYWORDS,
     "decode_batch($self, ids_list)\n--\n\n"},
    {"vocab_size", VONA_METH(bpe_vocab_size), METH_NOARGS, "vocab_size($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* bpe_encoder_type() {
    // Created once per process; the interpreter lock serialises the creation.
    static PyObject* type = nullptr;
    if (type) return type;
    
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(&encoder_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&encoder_dealloc)},
        {Py_tp_doc, const_cast<char*>("BPEEncoder(tokenizer_json, vona_mapping_json)\n--\n\n")},
        {Py_tp_methods, METHODS},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "vona_tokenizer._accel.BPEEncoder", static_cast<int>(sizeof(BpeEncoderObject)), 0, Py_TPFLAGS_DEFAULT, slots,
    };
    PyObject* created = PyType_FromSpec(&spec);
    if (!created) raise();
    type = created;
    return type;
}

const bpe::BpeTokenizer& encoder_tokenizer(PyObject* self) {
    check_receiver(self, bpe_encoder_type(), "BPEEncoder");
    return reinterpret_cast<BpeEncoderObject*>(self)->tokenizer;
}

PyObject* bpe_vocab_size(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* { return to_int(encoder_tokenizer(self).vocab_size); });
}

}  // namespace vona::py

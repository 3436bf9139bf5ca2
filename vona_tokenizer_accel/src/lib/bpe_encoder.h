// The BPEEncoder class: one loaded BpeTokenizer per instance.
#pragma once

#include "binding.h"
#include "vocab.h"

namespace vona::py {

// The instance layout: the object header, then the tokenizer by value. The
// tokenizer is placement-constructed by the constructor and never changed.
struct BpeEncoderObject {
    PyObject_HEAD
    bpe::BpeTokenizer tokenizer;
};

// The receiver test of every method: self's tokenizer, or TypeError
// "'{type}' object cannot be converted to 'BPEEncoder'".
const bpe::BpeTokenizer& encoder_tokenizer(PyObject* self);

// Methods (METH_VARARGS | METH_KEYWORDS), defined in bpe_methods.cpp.
PyObject* bpe_encode(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* bpe_encode_batch(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* bpe_decode(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* bpe_decode_batch(PyObject* self, PyObject* args, PyObject* kwargs);

// vocab_size (METH_NOARGS): the tokenizer's vocab_size as an int.
PyObject* bpe_vocab_size(PyObject* self, PyObject* unused);

}  // namespace vona::py

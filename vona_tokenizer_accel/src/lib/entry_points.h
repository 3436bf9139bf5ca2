// The module's classes and functions, defined in the files of this folder.
#pragma once

#include "binding.h"

namespace vona::py {

// Class objects, created once per process on first need. Return a borrowed
// reference; raise on failure.
PyObject* prepared_mapping_type();
PyObject* bpe_encoder_type();

// Module functions (METH_VARARGS | METH_KEYWORDS), in registration order.
PyObject* iter_token_strings(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* is_identifier(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* split_identifier(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* is_pua_char(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* vona_split_text(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* pretokenize_to_string(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* pretokenize_batch(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* reverse_pua_substitute(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* reverse_pua_batch(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* count_in_text(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* count_frequencies(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* has_secret(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vona::py

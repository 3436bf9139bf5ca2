// The module's classes and functions, defined in the files of this folder.
#pragma once

#include "binding.h"

// While the module is being built up, entry points that have not landed yet
// are weak and left out of the registration.
#define VONA_PENDING __attribute__((weak))

namespace vona::py {

// Class objects, created once per process on first need. Return a borrowed
// reference; raise on failure.
VONA_PENDING PyObject* prepared_mapping_type();
VONA_PENDING PyObject* bpe_encoder_type();

// Module functions (METH_VARARGS | METH_KEYWORDS), in registration order.
VONA_PENDING PyObject* iter_token_strings(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* is_identifier(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* split_identifier(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* is_pua_char(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* vona_split_text(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* pretokenize_to_string(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* pretokenize_batch(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* reverse_pua_substitute(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* reverse_pua_batch(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* count_in_text(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* count_frequencies(PyObject* module, PyObject* args, PyObject* kwargs);
VONA_PENDING PyObject* has_secret(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vona::py

// BPEEncoder.encode, encode_batch, decode, decode_batch.
#include "bpe_encoder.h"
#include "decoder.h"
#include "pipeline.h"
#include "worker_pool.h"

namespace vona::py {

PyObject* bpe_encode(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"text"};
        auto a = bind("BPEEncoder.encode()", names, args, kwargs);
        const bpe::BpeTokenizer& t = encoder_tokenizer(self);
        std::string s = text("text", a[0]);
        auto ids = without_lock([&] { return bpe::encode(t, s); });
        return to_id_list(ids);
    });
}

PyObject* bpe_encode_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"texts"};
        auto a = bind("BPEEncoder.encode_batch()", names, args, kwargs);
        const bpe::BpeTokenizer& t = encoder_tokenizer(self);
        std::vector<std::string> items = texts("texts", a[0]);
        auto results = without_lock(
            [&] { return run_batch(items, [&](const std::string& s) { return bpe::encode(t, s); }); });
        return to_list(results, [](const std::vector<uint32_t>& ids) { return to_id_list(ids); });
    });
}

PyObject* bpe_decode(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"ids"};
        auto a = bind("BPEEncoder.decode()", names, args, kwargs);
        const bpe::BpeTokenizer& t = encoder_tokenizer(self);
        std::vector<uint32_t> ids = token_ids("ids", a[0]);
        auto s = without_lock([&] { return bpe::decode(t, ids); });
        return to_str(s);
    });
}

PyObject* bpe_decode_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const names[] = {"ids_list"};
        auto a = bind("BPEEncoder.decode_batch()", names, args, kwargs);
        const bpe::BpeTokenizer& t = encoder_tokenizer(self);
        std::vector<std::vector<uint32_t>> lists = id_lists("ids_list", a[0]);
        auto results = without_lock([&] {
            return run_batch(lists, [&](const std::vector<uint32_t>& ids) { return bpe::decode(t, ids); });
        });
        return to_str_list(results);
    });
}

}  // namespace vona::py

"""BPE encode/decode on the GPT-2 vocabulary against tiktoken and tokenizers.

    python bench/bench_encode.py [--mb 4]

Prints times, throughput and the ratio of each anchor's time to ours.
"""

import argparse
import json
import os
import re
import sys
import time
from pathlib import Path

from common import Table, median_time  # noqa: E402  (also puts bench/ on sys.path)

import corpus
import tiktoken
import tokenizers
from vona_tokenizer._accel import BPEEncoder

ROOT = Path(__file__).resolve().parent.parent
GPT2 = ROOT / "tests" / "data" / "gpt2"
PATTERN = r"'s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"


def byte_to_char():
    keep = set(range(0x21, 0x7F)) | set(range(0xA1, 0xAD)) | set(range(0xAE, 0x100))
    table, extra = {}, 0
    for b in range(256):
        table[b] = chr(b) if b in keep else chr(0x100 + extra)
        extra += b not in keep
    return table


def pua_tokenizer(tmp, vocab, text, n_words=300):
    """GPT-2 plus the most frequent identifier parts mapped to private-use
    characters, each with its own token (and the step that reaches it)."""
    b2c = byte_to_char()
    counts = {}
    for w in re.findall(r"[A-Za-z]{3,}", text):
        counts[w] = counts.get(w, 0) + 1
    words = sorted(counts, key=lambda w: -counts[w])[:n_words]
    ext, next_id, mapping = dict(vocab), 50257, {}
    free = (chr(cp) for cp in range(0xE000, 0xF8FF) if chr(cp) not in text)  # none of the text's own
    for w in words:
        c = next(free)
        mapping[w] = ord(c)
        bl = "".join(b2c[b] for b in c.encode())
        for s in (bl[:2], bl):
            if s not in ext:
                ext[s], next_id = next_id, next_id + 1
    doc = {"added_tokens": [{"id": 50256, "content": "<|endoftext|>", "special": True}],
           "model": {"type": "BPE", "vocab": ext, "merges": []}}
    (tmp / "pua_tok.json").write_text(json.dumps(doc), encoding="utf-8")
    (tmp / "pua_map.json").write_text(json.dumps({"word_to_codepoint": mapping}), encoding="utf-8")
    return BPEEncoder(str(tmp / "pua_tok.json"), str(tmp / "pua_map.json"))


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=4.0)
    args = ap.parse_args(argv)

    text = corpus.build(args.mb)
    docs = corpus.documents(text)
    nbytes = len(text.encode())
    vocab = json.loads((GPT2 / "tokenizer.json").read_text(encoding="utf-8"))["model"]["vocab"]
    b2c = byte_to_char()
    c2b = {c: b for b, c in b2c.items()}
    ranks = {bytes(c2b[c] for c in t): i for t, i in vocab.items()}
    tk = tiktoken.Encoding("gpt2_bench", pat_str=PATTERN, mergeable_ranks=ranks, special_tokens={"<|endoftext|>": 50256})
    hf = tokenizers.Tokenizer.from_file(str(GPT2 / "tokenizer.json"))
    ours = BPEEncoder(str(GPT2 / "tokenizer.json"), str(GPT2 / "vona_mapping.json"))
    print(f"cpus available: {len(os.sched_getaffinity(0))}")

    ids = ours.encode(text)
    assert ids == tk.encode_ordinary(text), "ids differ from tiktoken on the corpus"

    t = Table("encode, one text, one thread", nbytes)
    me = t.add("vona encode", median_time(lambda: ours.encode(text), repeat=5))
    t.add("tiktoken encode_ordinary", median_time(lambda: tk.encode_ordinary(text), repeat=3), anchor_for=me)
    t.add("tokenizers encode", median_time(lambda: hf.encode(text, add_special_tokens=False), repeat=3), anchor_for=me)

    t = Table(f"encode, {len(docs)} documents", nbytes)
    loop = t.add("vona encode (loop)", median_time(lambda: [ours.encode(d) for d in docs], repeat=5))
    batch = t.add("vona encode_batch", median_time(lambda: ours.encode_batch(docs), repeat=5))
    print(f"  encode_batch speed-up over our loop: {t.ratio(loop, batch):.2f}x")
    t.add("tiktoken encode_ordinary_batch", median_time(lambda: tk.encode_ordinary_batch(docs), repeat=3), anchor_for=batch)
    t.add("tokenizers encode_batch", median_time(lambda: hf.encode_batch(docs, add_special_tokens=False), repeat=3),
          anchor_for=batch)

    t = Table("decode, one id list", nbytes)
    me = t.add("vona decode", median_time(lambda: ours.decode(ids), repeat=7))
    t.add("tiktoken decode", median_time(lambda: tk.decode(ids), repeat=7), anchor_for=me)
    t.add("tokenizers decode", median_time(lambda: hf.decode(ids), repeat=3), anchor_for=me)

    small, n = "hello", 200_000

    def per_call(fn):
        return median_time(lambda: [fn(small) for _ in range(n)], repeat=5) / n

    a, b = per_call(ours.encode), per_call(tk.encode_ordinary)
    print(f"\n== per-call overhead, five-character text\n  vona encode {a * 1e9:8.0f} ns   tiktoken encode_ordinary"
          f" {b * 1e9:8.0f} ns   ratio {b / a:.2f}x")

    import tempfile

    with tempfile.TemporaryDirectory() as tmp:
        pua = pua_tokenizer(Path(tmp), vocab, text)
        t = Table("encode with a PUA mapping of 300 words", nbytes)
        plain = t.add("vona encode, plain GPT-2", median_time(lambda: ours.encode(text), repeat=5))
        mapped = t.add("vona encode, PUA mapping", median_time(lambda: pua.encode(text), repeat=5))
        print(f"  PUA / plain time: {t.rows[mapped][1] / t.rows[plain][1]:.2f}x")
        assert pua.decode(pua.encode(text)) == text


if __name__ == "__main__":
    main()

"""PUA substitution in batches: pretokenize_batch and reverse_pua_batch on the
worker pool against a loop of the single-item calls.

    PYTHONPATH=<staged build> python bench/bench_pua.py [--mb 8] [--repeat 5] [--words 300]

The mapping holds the most frequent identifier parts of the corpus (as the
vocabulary builder would choose them), each assigned one private-use character.
"""

import argparse

import common
import corpus

from vona_tokenizer import _accel


def frequent_parts(text, n):
    """The n identifier parts with the largest boost in text."""
    _, boosts = _accel.count_in_text(text, 1.0, 64)
    return sorted(boosts, key=lambda p: (-boosts[p], p))[:n]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=8.0)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--words", type=int, default=300)
    args = ap.parse_args()
    text = corpus.build(args.mb)
    nbytes = len(text.encode("utf-8"))
    docs = corpus.documents(text)
    words = frequent_parts(text, args.words)
    # From U+E100 on: the prose sample holds U+E000, U+E001 and U+F0000 of its
    # own, which must come back unchanged.
    w2p = {w: chr(0xE100 + i) for i, w in enumerate(words)}
    pm = _accel.PreparedMapping(w2p, {c: w for w, c in w2p.items()})
    print(f"corpus: {nbytes / 1e6:.1f} MB in {len(docs)} documents; mapping of {len(pm)} parts "
          f"({', '.join(words[:8])}, ...)")

    pre = _accel.pretokenize_batch(docs, pm)
    assert pre == [_accel.pretokenize_to_string(d, pm) for d in docs]
    assert _accel.reverse_pua_batch(pre, pm) == docs, "round trip lost text"
    replaced = sum(len(d) for d in docs) - sum(len(p) for p in pre)
    print(f"pretokenized text is {replaced} characters shorter")

    t = common.Table("pretokenize: batch on the pool vs single-item loop", nbytes)
    ours = t.add("pretokenize_batch(docs, pm)", common.median_time(
        lambda: _accel.pretokenize_batch(docs, pm), args.repeat))
    anchor = t.add("[pretokenize_to_string(d, pm) for d in docs]", common.median_time(
        lambda: [_accel.pretokenize_to_string(d, pm) for d in docs], args.repeat), ours)
    pre_ratio = t.ratio(anchor, ours)

    pre_bytes = sum(len(p.encode("utf-8")) for p in pre)
    t = common.Table("reverse substitution: batch on the pool vs single-item loop", pre_bytes)
    ours = t.add("reverse_pua_batch(pre, pm)", common.median_time(
        lambda: _accel.reverse_pua_batch(pre, pm), args.repeat))
    anchor = t.add("[reverse_pua_substitute(p, pm) for p in pre]", common.median_time(
        lambda: [_accel.reverse_pua_substitute(p, pm) for p in pre], args.repeat), ours)
    rev_ratio = t.ratio(anchor, ours)

    print(f"\nsummary: pretokenize_batch {pre_ratio:.2f}x, reverse_pua_batch {rev_ratio:.2f}x "
          f"over the loop (target >= 1.7x on 2 cores)")


if __name__ == "__main__":
    main()

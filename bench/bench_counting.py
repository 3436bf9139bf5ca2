"""Token counting of one text: count_in_text against the same statistics in
pure Python (`regex` with the same token pattern, a Counter, and the same
identifier split for the boosts).

    PYTHONPATH=<staged build> python bench/bench_counting.py [--mb 4] [--repeat 3]

Measured per document (~4 kB), the way the Python-side counter calls it, and
on the whole corpus as one text.
"""

import argparse
import re
from collections import Counter

import common
import corpus
import regex

from vona_tokenizer import _accel

_STARTER = r"[\p{Emoji_Presentation}\p{Extended_Pictographic}]"
TOKEN_RE = regex.compile(
    rf"(?:{_STARTER}(?:\u200D{_STARTER})*[\uFE0F\u20E3\p{{Emoji_Modifier}}]*)+"
    r"|[\p{L}\p{N}_](?:[\p{L}\p{N}_\-]*[\p{L}\p{N}_])?"
    r"|(?:!=|==|<=|>=|<<|>>|\+=|-=|\*=|/=|%=|&&|\|\||->|=>|::|:=|\.\.\.|\.\.)"
    r"|[^\p{White_Space}\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\p{Join_Control}]"
)
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
CAMEL_RE = re.compile(r"[A-Z]+(?=[A-Z][a-z])|[A-Z][a-z]+|[A-Z]+|[a-z]+|[0-9]+")


def count_in_python(text, boost_weight, max_token_len):
    tokens = [t for t in TOKEN_RE.findall(text) if len(t) <= max_token_len]
    counts = Counter(tokens)
    boosts = {}
    if boost_weight > 0.0:
        for t in tokens:
            if IDENT_RE.fullmatch(t):
                for seg in t.split("_"):
                    for p in CAMEL_RE.findall(seg):
                        if p != t:
                            boosts[p] = boosts.get(p, 0.0) + boost_weight
    return dict(counts), boosts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=4.0)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    text = corpus.build(args.mb)
    nbytes = len(text.encode("utf-8"))
    docs = corpus.documents(text)
    weight, limit = 0.3, 32
    assert _accel.count_in_text(text, weight, limit) == count_in_python(text, weight, limit), "results differ"
    print(f"corpus: {nbytes / 1e6:.1f} MB in {len(docs)} documents; boost_weight {weight}, max_token_len {limit}")

    t = common.Table(f"per document: {len(docs)} texts of ~4 kB", nbytes)
    ours = t.add("[count_in_text(d, w, n) for d in docs]", common.median_time(
        lambda: [_accel.count_in_text(d, weight, limit) for d in docs], args.repeat))
    anchor = t.add("pure Python (regex + Counter + split)", common.median_time(
        lambda: [count_in_python(d, weight, limit) for d in docs], args.repeat), ours)
    doc_ratio = t.ratio(anchor, ours)

    t = common.Table("whole corpus as one text", nbytes)
    ours = t.add("count_in_text(text, w, n)", common.median_time(
        lambda: _accel.count_in_text(text, weight, limit), args.repeat))
    anchor = t.add("pure Python (regex + Counter + split)", common.median_time(
        lambda: count_in_python(text, weight, limit), args.repeat), ours)
    whole_ratio = t.ratio(anchor, ours)

    print(f"\nsummary: per document {doc_ratio:.1f}x, whole text {whole_ratio:.1f}x over pure Python (target >= 20x)")


if __name__ == "__main__":
    main()

"""Credential search: has_secret against Python `re` running the ten shapes in order.

    PYTHONPATH=<staged build> python bench/bench_secrets.py [--mb 8] [--repeat 5]

1. The corpus as one text (no credential in it: every shape is searched to the end).
2. Per document (~4 kB pieces), where call overhead counts.
3. Texts where the candidate filter has nothing to do, and texts dense with
   candidate prefixes (throughput in GB/s / MB/s; the anchor is `re`).
"""

import argparse
import re

import common
import corpus

from vona_tokenizer import _accel

URL = "[A-Za-z0-9_-]"
SHAPES = [
    ("aws_access_key", r"AKIA[A-Z0-9]{16}"),
    ("openai_api_key", r"sk-(?:proj-)?" + URL + "{20,}"),
    ("anthropic_api_key", r"sk-ant-" + URL + "{50,}"),
    ("github_pat", r"ghp_[A-Za-z0-9]{36}"),
    ("github_oauth", r"gho_[A-Za-z0-9]{36}"),
    ("github_app", r"(?:ghu|ghs)_[A-Za-z0-9]{36}"),
    ("google_api", r"AIza" + URL + "{35}"),
    ("slack_token", r"xox[baprs]-[A-Za-z0-9-]{10,}"),
    ("private_key_pem", r"-----BEGIN (?:RSA |EC |DSA |OPENSSH )?PRIVATE KEY-----"),
    ("jwt", r"eyJ" + URL + r"{10,}\.eyJ" + URL + r"{10,}\." + URL + "{10,}"),
]
COMPILED = [(name, re.compile(p)) for name, p in SHAPES]


def re_first(text):
    for name, pattern in COMPILED:
        if pattern.search(text):
            return name
    return None


def compare(title, texts, repeat):
    nbytes = sum(len(t.encode("utf-8")) for t in texts)
    ours = [_accel.has_secret(t) for t in texts]
    assert ours == [re_first(t) for t in texts], "answers differ from re"
    table = common.Table(title, nbytes)
    mine = table.add("has_secret", common.median_time(lambda: [_accel.has_secret(t) for t in texts], repeat))
    table.add("re, ten patterns in order", common.median_time(lambda: [re_first(t) for t in texts], repeat), mine)
    found = sum(1 for a in ours if a)
    if found:
        print(f"  ({found} of {len(texts)} texts hold a shape)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=8.0)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()

    text = corpus.build(args.mb)
    compare("corpus as one text", [text], args.repeat)

    docs = [text[i : i + 4096] for i in range(0, len(text), 4096)]
    compare(f"per document ({len(docs)} pieces of 4096 chars)", docs, args.repeat)

    quiet = ("lorem ipsum dolor sit amet, consectetur adipiscing elit; " * 4_000_000)[: 200_000_000]
    compare("200 MB without candidate prefixes", [quiet], max(3, args.repeat // 2))

    dense = [
        ("sk-abc. " * 1_000_000, "a million short sk- prefixes"),
        (("eyJ" + "a" * 12 + ".eyJ" + "b" * 12 + ".c ") * 200_000, "200k tokens with a short third segment"),
        ("----- " * 1_000_000, "a million hyphen runs"),
    ]
    for t, title in dense:
        compare(title, [t], args.repeat)


if __name__ == "__main__":
    main()

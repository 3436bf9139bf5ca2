"""Loading the GPT-2 tokenizer: time and resident memory of a BPEEncoder against
`tokenizers.Tokenizer.from_file` and a `tiktoken.Encoding` built from the same ranks.

    PYTHONPATH=<staged build> python bench/bench_load.py [--repeat 7]

Time: median wall time of one load in this process (the files are in the page
cache after the warm-up). tiktoken is shown twice: the Encoding constructor
alone on ranks prepared beforehand, and the whole way from tokenizer.json
(JSON parse, byte-level decoding of every token, constructor).

Memory: each variant runs in a fresh interpreter that imports its module,
prepares its inputs, then reads VmRSS before and after the load (after a
gc.collect()). The increase is what the loaded object keeps resident.
"""

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

import common  # noqa: F401  (sets up sys.path)
from common import median_time

HERE = Path(__file__).resolve().parent
GPT2 = HERE.parent / "tests" / "data" / "gpt2"
TOKENIZER = str(GPT2 / "tokenizer.json")
MAPPING = str(GPT2 / "vona_mapping.json")
GPT2_PATTERN = r"""'s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""


def byte_level_alphabet():
    """Byte -> character of the GPT-2 byte-level alphabet."""
    printable = list(range(ord("!"), ord("~") + 1)) + list(range(0xA1, 0xAC + 1)) + list(range(0xAE, 0xFF + 1))
    chars = {}
    extra = 0
    for b in range(256):
        if b in printable:
            chars[b] = chr(b)
        else:
            chars[b] = chr(256 + extra)
            extra += 1
    return chars


def gpt2_ranks(path=TOKENIZER):
    """tiktoken's inputs from tokenizer.json: token bytes -> id, and the special tokens."""
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    to_byte = {c: b for b, c in byte_level_alphabet().items()}
    ranks = {bytes(to_byte[c] for c in token): i for token, i in doc["model"]["vocab"].items()}
    special = {t["content"]: t["id"] for t in doc["added_tokens"]}
    return ranks, special


def load_ours():
    from vona_tokenizer._accel import BPEEncoder

    return BPEEncoder(TOKENIZER, MAPPING)


def load_tokenizers():
    import tokenizers

    return tokenizers.Tokenizer.from_file(TOKENIZER)


def tiktoken_encoding(ranks, special):
    import tiktoken

    return tiktoken.Encoding(name="gpt2-bench", pat_str=GPT2_PATTERN, mergeable_ranks=ranks, special_tokens=special)


def load_tiktoken_from_file():
    return tiktoken_encoding(*gpt2_ranks())


# Child program for one memory measurement: prepare, measure, load, measure.
CHILD = r"""
import gc, sys
sys.path.insert(0, {here!r})
import bench_load as b

def rss():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024

which = {which!r}
if which == "ours":
    import vona_tokenizer._accel
    load = b.load_ours
elif which == "tokenizers":
    import tokenizers
    load = b.load_tokenizers
else:
    import tiktoken
    ranks, special = b.gpt2_ranks()
    load = lambda: b.tiktoken_encoding(ranks, special)
gc.collect()
before = rss()
obj = load()
gc.collect()
print(rss() - before)
"""


def rss_increase(which):
    code = CHILD.format(here=str(HERE), which=which)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=dict(os.environ))
    if out.returncode != 0:
        raise RuntimeError(out.stderr)
    return int(out.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--memory-runs", type=int, default=3, help="fresh processes per variant (median)")
    args = ap.parse_args()

    size = os.path.getsize(TOKENIZER)
    print(f"tokenizer.json: {size / 1e6:.2f} MB")
    ranks, special = gpt2_ranks()

    t_ours = median_time(load_ours, args.repeat)
    t_tok = median_time(load_tokenizers, args.repeat)
    t_tik = median_time(lambda: tiktoken_encoding(ranks, special), args.repeat)
    t_tik_file = median_time(load_tiktoken_from_file, args.repeat)
    print("\n== load time (median of %d)" % args.repeat)
    print(f"  {'BPEEncoder':<52} {t_ours * 1e3:8.1f} ms")
    for name, t in (
        ("tokenizers.Tokenizer.from_file", t_tok),
        ("tiktoken.Encoding (ranks prepared)", t_tik),
        ("tiktoken from tokenizer.json (parse+ranks+Encoding)", t_tik_file),
    ):
        print(f"  {name:<52} {t * 1e3:8.1f} ms   {t / t_ours:5.2f}x ours")

    print("\n== resident memory kept by the loaded object (median of %d fresh processes)" % args.memory_runs)
    mem = {}
    for which, name in (("ours", "BPEEncoder"), ("tokenizers", "tokenizers.Tokenizer"), ("tiktoken", "tiktoken.Encoding")):
        runs = sorted(rss_increase(which) for _ in range(args.memory_runs))
        mem[which] = runs[len(runs) // 2]
        line = f"  {name:<52} {mem[which] / 2**20:8.1f} MiB"
        if which != "ours" and mem["ours"] > 0:
            line += f"   {mem[which] / mem['ours']:5.2f}x ours"
        print(line, flush=True)


if __name__ == "__main__":
    main()

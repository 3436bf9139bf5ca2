"""count_frequencies against its anchors, on the standard-library shard corpus.

    PYTHONPATH=build/<dir>/python python3 bench/bench_shards.py [--shards N] [--repeat R]

Anchors, all on the same shards and using both cores:
  - a multiprocessing.Pool(2) running a pure-Python counter (the same token
    pattern written for `regex` with explicit classes, the same identifier
    boosts and the same merge);
  - zlib decompression alone (Pool(2), output discarded): the ceiling for
    any reader of these shards.
Peak RSS of count_frequencies over 12 and 48 shards is measured in a fresh
subprocess each (getrusage ru_maxrss).
"""

import argparse
import gzip
import json
import math
import multiprocessing
import os
import re
import statistics
import subprocess
import sys
import time
import zlib

import regex

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_shards import make_shards  # noqa: E402

BOOST = 0.5
MAX_LEN = 64

# The token pattern with explicit classes: `regex` has its own ideas of \s and \w.
_STARTER = r"[\p{Emoji_Presentation}\p{Extended_Pictographic}]"
_WORD_CLASS = r"\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\p{Join_Control}"
TOKEN = regex.compile(
    rf"(?:{_STARTER}(?:\u200D{_STARTER})*[\uFE0F\u20E3\p{{Emoji_Modifier}}]*)+"
    r"|[\p{L}\p{N}_](?:[\p{L}\p{N}_\-]*[\p{L}\p{N}_])?"
    r"|(?:!=|==|<=|>=|<<|>>|\+=|-=|\*=|/=|%=|&&|\|\||->|=>|::|:=|\.\.\.|\.\.)"
    rf"|[^\p{{White_Space}}{_WORD_CLASS}]"
)
IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
# Word parts of an identifier: acronym before a capitalised word, capitalised
# word, upper-case run, lower-case run, digit run (underscores separate).
PART = re.compile(r"[A-Z]+(?=[A-Z][a-z])|[A-Z][a-z]+|[A-Z]+|[a-z]+|[0-9]+")


def py_count_shard(path):
    counts, boosts = {}, {}
    with gzip.open(path, "rb") as f:
        for raw in f:
            line = raw.rstrip(b"\n")
            if line.endswith(b"\r") and raw.endswith(b"\n"):
                line = line[:-1]
            if not line:
                continue
            value = json.loads(line.decode("utf-8"))
            if not (isinstance(value, dict) and isinstance(value.get("text"), str)):
                continue
            for tok in TOKEN.findall(value["text"]):
                if len(tok) > MAX_LEN:
                    continue
                counts[tok] = counts.get(tok, 0) + 1
                if BOOST > 0.0 and IDENT.fullmatch(tok):
                    for part in PART.findall(tok):
                        if part != tok:
                            boosts[part] = boosts.get(part, 0.0) + BOOST
    return counts, boosts


def round_away(b):
    if math.isnan(b) or b <= 0:
        return 0
    if math.isinf(b):
        return 2**64 - 1
    f = math.floor(b)
    return min(f + 1 if b - f >= 0.5 else f, 2**64 - 1)


def py_count_frequencies(pool, paths):
    total, boosts = {}, {}
    for counts, shard_boosts in pool.imap(py_count_shard, paths):
        for k, v in counts.items():
            total[k] = total.get(k, 0) + v
        for k, v in shard_boosts.items():
            boosts[k] = boosts.get(k, 0.0) + v
    for k, b in boosts.items():
        r = round_away(b)
        if r:
            total[k] = total.get(k, 0) + r
    return total


def inflate_only(path):
    d = zlib.decompressobj(31)
    n = 0
    with open(path, "rb") as f:
        while chunk := f.read(32768):
            while chunk:
                n += len(d.decompress(chunk, 8192))
                chunk = d.unconsumed_tail
    return n


def timed(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times), result


RSS_CHILD = """
import resource, sys
from vona_tokenizer import _accel

def hwm():  # peak RSS of this process image, in KiB
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])

paths = sys.argv[1:]
before = hwm()
result = _accel.count_frequencies(paths, {boost}, {max_len})
print(before, hwm(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, len(result))
"""


def peak_rss(paths):
    """(KiB after import, peak KiB, ru_maxrss KiB, entries) of a fresh interpreter.

    Linux carries ru_maxrss across exec, so a child inherits the peak of the
    process that spawned it; VmHWM belongs to the new image alone. Both are
    reported, and the measurement runs before this process has grown."""
    code = RSS_CHILD.format(boost=BOOST, max_len=MAX_LEN)
    out = subprocess.run([sys.executable, "-c", code, *paths], capture_output=True, text=True, check=True,
                         cwd="/")  # keep a source checkout in the cwd from shadowing the package
    return tuple(map(int, out.stdout.split()))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--shards", type=int, default=12)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--python-repeat", type=int, default=1)
    args = ap.parse_args()

    from vona_tokenizer import _accel

    for n in (12, 48):
        shard_paths, _ = make_shards(n)
        before, peak, maxrss, entries = peak_rss(shard_paths)
        # What a merge that keeps every shard's table until the end would hold.
        held = sum(len(_accel.count_frequencies([p], BOOST, MAX_LEN)) for p in shard_paths)
        print(f"peak RSS, {n:2d} shards: {peak / 1024:6.1f} MiB (after import {before / 1024:5.1f} MiB,"
              f" growth {(peak - before) / 1024:5.1f} MiB; ru_maxrss {maxrss / 1024:5.1f} MiB), {entries} entries;"
              f" all shard tables together: {held} entries")

    paths, nbytes = make_shards(args.shards)
    mb = nbytes / 1e6
    print(f"corpus: {len(paths)} shards, {mb:.1f} MB of JSON lines; workers: 2 processes for the anchors")

    _accel.count_frequencies(paths[:1], BOOST, MAX_LEN)  # pool and tables built
    t_native, native = timed(lambda: _accel.count_frequencies(paths, BOOST, MAX_LEN), args.repeat)
    print(f"count_frequencies        {t_native * 1e3:8.1f} ms  {mb / t_native:7.1f} MB/s")

    ctx = multiprocessing.get_context("fork")
    with ctx.Pool(2) as pool:
        pool.map(abs, range(4))  # workers started before the clock runs
        t_inflate, sizes = timed(lambda: pool.map(inflate_only, paths), args.repeat)
        print(f"zlib inflate only        {t_inflate * 1e3:8.1f} ms  {mb / t_inflate:7.1f} MB/s"
              f"   count_frequencies reaches {t_inflate / t_native * 100:5.1f}% of it")
        t_py, expected = timed(lambda: py_count_frequencies(pool, paths), args.python_repeat)
        print(f"pure Python, Pool(2)     {t_py * 1e3:8.1f} ms  {mb / t_py:7.1f} MB/s"
              f"   count_frequencies is {t_py / t_native:5.1f}x faster")
    assert sum(sizes) == nbytes, (sum(sizes), nbytes)
    if native == expected:
        print(f"results agree ({len(native)} entries)")
    else:
        diff = {k for k in native.keys() | expected.keys() if native.get(k) != expected.get(k)}
        print(f"RESULTS DIFFER on {len(diff)} of {len(native)} entries, e.g. "
              + ", ".join(f"{k!r}: {native.get(k)} vs {expected.get(k)}" for k in sorted(diff)[:5]))



if __name__ == "__main__":
    main()

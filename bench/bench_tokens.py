"""Token iteration: iter_token_strings against `regex` running the same pattern.

    PYTHONPATH=<staged build> python bench/bench_tokens.py [--mb 8] [--repeat 5]

1. Lists of token strings: iter_token_strings(t) vs regex.findall(t).
2. Matching without building strings: the native scanner alone (a small C++
   executable built by bench/build_native.sh, fed the same corpus) vs
   regex.finditer consumed without taking the match texts.
3. Per document (~4 kB pieces), where call overhead counts.
"""

import argparse
import os
import subprocess
import tempfile

import common  # noqa: F401  (sets up sys.path)
import corpus
import regex

from vona_tokenizer import _accel

_STARTER = r"[\p{Emoji_Presentation}\p{Extended_Pictographic}]"
PATTERN = regex.compile(
    rf"(?:{_STARTER}(?:\u200D{_STARTER})*[\uFE0F\u20E3\p{{Emoji_Modifier}}]*)+"
    r"|[\p{L}\p{N}_](?:[\p{L}\p{N}_\-]*[\p{L}\p{N}_])?"
    r"|(?:!=|==|<=|>=|<<|>>|\+=|-=|\*=|/=|%=|&&|\|\||->|=>|::|:=|\.\.\.|\.\.)"
    r"|[^\p{White_Space}\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\p{Join_Control}]"
)

HERE = os.path.dirname(os.path.abspath(__file__))


def native_scanner(text, repeat):
    """Rate of the C++ scanner on text, in seconds per pass, or None."""
    out_dir = os.path.join(tempfile.gettempdir(), "vona_bench")
    try:
        exe = subprocess.run(
            ["bash", os.path.join(HERE, "build_native.sh"), out_dir], capture_output=True, text=True, check=True
        ).stdout.strip().splitlines()[-1]
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"  (native scanner not built: {e})")
        return None
    path = os.path.join(out_dir, "corpus.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    out = subprocess.run([exe, path, str(max(repeat, 5))], capture_output=True, text=True, check=True).stdout
    result = {}
    for line in out.splitlines():
        words = line.split()
        if words[0] in ("scan", "owned"):
            result[words[0]] = float(words[1]) / 1e3
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=8.0)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    text = corpus.build(args.mb)
    nbytes = len(text.encode("utf-8"))
    ours = _accel.iter_token_strings(text)
    assert ours == PATTERN.findall(text), "token lists differ from regex"
    print(f"corpus: {nbytes / 1e6:.1f} MB, {len(ours)} tokens")

    t = common.Table("token lists: iter_token_strings vs regex.findall", nbytes)
    ours_row = t.add("iter_token_strings(text)", common.median_time(lambda: _accel.iter_token_strings(text), args.repeat))
    anchor = t.add("regex.findall(text)", common.median_time(lambda: PATTERN.findall(text), args.repeat), ours_row)
    list_ratio = t.ratio(anchor, ours_row)

    t = common.Table("matching only: native scanner vs regex.finditer", nbytes)
    native = native_scanner(text, args.repeat)
    scan_ratio = None
    if native:
        ours_row = t.add("C++ TokenIterator (spans only)", native["scan"])
        t.add("C++ token_strings (owned std::string copies)", native["owned"])
    fin = lambda: sum(1 for _ in PATTERN.finditer(text))  # noqa: E731
    anchor = t.add("sum(1 for _ in regex.finditer(text))", common.median_time(fin, args.repeat),
                   ours_row if native else None)
    if native:
        scan_ratio = t.ratio(anchor, ours_row)

    docs = corpus.documents(text)
    t = common.Table(f"per document: {len(docs)} texts of ~4 kB", nbytes)
    ours_row = t.add("[iter_token_strings(d) for d in docs]", common.median_time(
        lambda: [_accel.iter_token_strings(d) for d in docs], args.repeat))
    anchor = t.add("[regex.findall(d) for d in docs]", common.median_time(
        lambda: [PATTERN.findall(d) for d in docs], args.repeat), ours_row)
    doc_ratio = t.ratio(anchor, ours_row)

    print("\nsummary: lists %.1fx (target >= 10x), matching only %s (target >= 20x), per document %.1fx" % (
        list_ratio, f"{scan_ratio:.1f}x" if scan_ratio else "n/a", doc_ratio))

if __name__ == "__main__":
    main()

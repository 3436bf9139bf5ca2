"""A deterministic benchmark corpus: real text that includes source code.

The running interpreter's own standard-library sources (sorted by path), then
prose: the licence texts the system ships and a multilingual sample. Nothing
is cached; building it takes well under a second.

    python bench/corpus.py [--mb 8] [--out FILE]   # write it for the C++ benchmarks
"""

import argparse
import sys
import sysconfig
from pathlib import Path

HERE = Path(__file__).resolve().parent
PROSE_SAMPLE = HERE.parent / "tests" / "data" / "prose_multiscript.txt"
LICENSES = Path("/usr/share/common-licenses")


def _read(path):
    try:
        return path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None


def _source_files():
    root = Path(sysconfig.get_paths()["stdlib"])
    for path in sorted(root.rglob("*.py")):
        rel = path.relative_to(root).parts
        # Third-party packages and generated test data vary between machines.
        if rel[0] in ("site-packages", "dist-packages") or "test" in rel[0]:
            continue
        yield path


def _licence_texts():
    if LICENSES.is_dir():
        for path in sorted(LICENSES.iterdir()):
            if path.is_file():
                yield path


def build(mb=8.0, prose_share=0.25):
    """Return the corpus as one str of about `mb` megabytes of UTF-8:
    (1 - prose_share) source code, then English prose (licence texts) and,
    for the rest, a sample in many scripts with emoji, repeated."""
    limit = int(mb * 1e6)
    parts, size = [], 0

    def fill(texts, until, cycle=False):
        nonlocal size
        texts = [t for t in texts if t]
        i = 0
        while texts and size < until and (cycle or i < len(texts)):
            parts.append(texts[i % len(texts)])
            size += len(parts[-1].encode("utf-8"))
            i += 1

    fill(map(_read, _source_files()), limit * (1 - prose_share))
    fill(map(_read, _licence_texts()), limit * (1 - prose_share / 2))
    fill([_read(PROSE_SAMPLE)], limit, cycle=True)
    return "\n".join(parts)


def documents(text, approx_bytes=4000):
    """Cut the corpus into documents of about approx_bytes characters at line ends."""
    out, start = [], 0
    while start < len(text):
        end = text.find("\n", start + approx_bytes)
        end = len(text) if end < 0 else end + 1
        out.append(text[start:end])
        start = end
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--mb", type=float, default=8.0)
    ap.add_argument("--out", help="write the corpus here (default: standard output)")
    args = ap.parse_args(argv)
    text = build(args.mb)
    if args.out:
        Path(args.out).write_text(text, encoding="utf-8")
        print(f"{args.out}: {len(text.encode('utf-8')) / 1e6:.1f} MB", file=sys.stderr)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()

"""Writes a shard corpus: the running interpreter's standard library sources as
JSON lines {"text": <file contents>} spread round-robin over N gzip shards.

    python3 bench/make_shards.py [N] [--out DIR]

The default directory is /tmp/vona_shards_<N>; nothing is written into the repo.
"""

import argparse
import gzip
import json
import pathlib
import sysconfig


def stdlib_sources():
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    files = sorted(
        f for f in root.rglob("*.py") if not {"site-packages", "dist-packages"} & set(f.parts)
    )
    for f in files:
        try:
            yield f.read_text(encoding="utf-8")
        except (UnicodeDecodeError, OSError):
            continue  # a few test files are deliberately not UTF-8


def make_shards(n, out_dir=None):
    """Returns (shard paths, decompressed bytes). Reuses a complete earlier run."""
    out = pathlib.Path(out_dir or f"/tmp/vona_shards_{n}")
    paths = [out / f"shard-{i:04d}.jsonl.gz" for i in range(n)]
    stamp = out / "decompressed_bytes"
    if stamp.exists() and all(p.exists() for p in paths):
        return [str(p) for p in paths], int(stamp.read_text())
    out.mkdir(parents=True, exist_ok=True)
    writers = [gzip.open(p, "wb", compresslevel=6) for p in paths]
    total = 0
    for i, text in enumerate(stdlib_sources()):
        line = json.dumps({"text": text}).encode() + b"\n"
        writers[i % n].write(line)
        total += len(line)
    for w in writers:
        w.close()
    stamp.write_text(str(total))
    return [str(p) for p in paths], total


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("n", nargs="?", type=int, default=12, help="number of shards (default 12)")
    ap.add_argument("--out", help="output directory (default /tmp/vona_shards_<N>)")
    args = ap.parse_args()
    paths, total = make_shards(args.n, args.out)
    size = sum(pathlib.Path(p).stat().st_size for p in paths)
    print(f"{len(paths)} shards in {pathlib.Path(paths[0]).parent}: {size / 1e6:.1f} MB gzip, {total / 1e6:.1f} MB of lines")


if __name__ == "__main__":
    main()

"""Runs every benchmark of this folder in turn, each in its own process.

    python bench/run_all.py
"""

import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
BENCHES = [
    "bench_tokens.py",
    "bench_pua.py",
    "bench_counting.py",
    "bench_secrets.py",
    "bench_load.py",
    "bench_encode.py",
    "bench_shards.py",
]


def main() -> int:
    failed = []
    for name in BENCHES:
        print(f"\n#### {name}", flush=True)
        if subprocess.run([sys.executable, str(HERE / name)]).returncode != 0:
            failed.append(name)
    if failed:
        print("failed:", ", ".join(failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

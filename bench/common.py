"""Timing helpers shared by the benchmarks: medians of repeats, throughput
and ratios to the anchors (these machines are noisy; compare ratios)."""

import gc
import statistics
import sys
import time
from pathlib import Path

# Make `import vona_tokenizer` and `import corpus` work when a benchmark is
# run as a script from anywhere.
sys.path.insert(0, str(Path(__file__).resolve().parent))


def median_time(fn, repeat=5, warmup=1):
    """Median wall time of fn() in seconds over `repeat` runs, after `warmup` runs."""
    for _ in range(warmup):
        fn()
    times = []
    for _ in range(repeat):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


class Table:
    """Prints one row per measured variant: time and throughput, and for an
    anchor the ratio of its time to that of one of our rows."""

    def __init__(self, title, nbytes):
        self.title, self.nbytes, self.rows = title, nbytes, []
        print(f"\n== {title} ({nbytes / 1e6:.1f} MB)")

    def add(self, name, seconds, anchor_for=None):
        """Adds a row; anchor_for is the index of our row this anchor is compared with."""
        self.rows.append((name, seconds))
        line = f"  {name:<46} {seconds * 1e3:9.1f} ms {self.nbytes / seconds / 1e6:9.1f} MB/s"
        if anchor_for is not None:
            line += f"   ratio {self.ratio(len(self.rows) - 1, anchor_for):6.1f}x"
        print(line, flush=True)
        return len(self.rows) - 1

    def ratio(self, anchor, ours):
        """How many times longer the anchor row took than our row."""
        return self.rows[anchor][1] / self.rows[ours][1]

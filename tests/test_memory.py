"""A failed native allocation raises MemoryError and leaves the module usable."""

import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(
    bool(os.environ.get("VONA_SANITIZER_RUN")), reason="address-space limits do not mix with ASan"
)

CHILD = textwrap.dedent(
    """
    import resource
    from vona_tokenizer import _accel

    text = "ab " * 40_000_000          # 120 MB, copied by the call
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    with open("/proc/self/statm") as f:
        in_use = int(f.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (in_use + 60_000_000, hard))
    try:
        _accel.iter_token_strings(text)
    except MemoryError:
        print("MemoryError")
    else:
        print("no error")
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(_accel.iter_token_strings("still works"))
    """
)


def test_allocation_failure_is_memory_error(tmp_path):
    # cwd is a temporary folder so that the installed package is the one imported.
    out = subprocess.run(
        [sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=120, cwd=tmp_path
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["MemoryError", "['still', 'works']"]

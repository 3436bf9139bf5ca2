"""Batch calls on the process-wide worker pool: results in input order and equal
to single calls, concurrent callers, failures handed back, and fork()."""

import multiprocessing
import os
import random
import threading

import pytest

from vona_tokenizer import _accel

WORDS = ["hello", "world", "get", "Value", "parse", "JSON", "token", "count", "x", "42", "naïve", "日本"]
PUA = {w: chr(0xE000 + i) for i, w in enumerate(WORDS[:8])}
MAPPING = _accel.PreparedMapping(PUA, {c: w for w, c in PUA.items()})


def make_texts(n, seed):
    rng = random.Random(seed)
    seps = [" ", "_", "\n", ", ", "(", ""]
    return ["".join(rng.choice(WORDS) + rng.choice(seps) for _ in range(rng.randint(0, 40))) for _ in range(n)]


def single_pretokenize(texts):
    return [_accel.pretokenize_to_string(t, MAPPING) for t in texts]


def single_reverse(texts):
    return [_accel.reverse_pua_substitute(t, MAPPING) for t in texts]


@pytest.mark.parametrize("n", [0, 1, 2, 3, 17, 1000, 20_000])
def test_batch_equals_single_calls(n):
    texts = make_texts(n, seed=n)
    pre = _accel.pretokenize_batch(texts, MAPPING)
    assert pre == single_pretokenize(texts)
    assert _accel.reverse_pua_batch(pre, MAPPING) == single_reverse(pre)
    if n:
        assert any(c in "".join(pre) for c in PUA.values())  # the mapping was really applied


def test_empty_and_tuple_input():
    assert _accel.pretokenize_batch([], MAPPING) == []
    assert _accel.reverse_pua_batch((), MAPPING) == []
    assert _accel.pretokenize_batch(("hello world",), MAPPING) == [PUA["hello"] + " " + PUA["world"]]


def test_concurrent_callers_share_the_pool():
    jobs = [make_texts(random.Random(k).randint(0, 400), seed=100 + k) for k in range(12)]
    expected = [single_pretokenize(t) for t in jobs]
    results = {}
    errors = []

    def run(k):
        try:
            for _ in range(15):
                got = _accel.pretokenize_batch(jobs[k], MAPPING)
                back = _accel.reverse_pua_batch(got, MAPPING)
                if got != expected[k] or back != single_reverse(expected[k]):
                    results[k] = "wrong"
                    return
            results[k] = "ok"
        except BaseException as exc:  # noqa: BLE001 - reported below
            errors.append(exc)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not errors
    assert not any(t.is_alive() for t in threads), "a batch call hung"
    assert results == {k: "ok" for k in range(len(jobs))}


# ---- fork ------------------------------------------------------------------

FORK_TEXTS = make_texts(500, seed=7)
FORK_EXPECTED = single_pretokenize(FORK_TEXTS)


def _child(conn):
    ok = _accel.pretokenize_batch(FORK_TEXTS, MAPPING) == FORK_EXPECTED
    ok = ok and _accel.reverse_pua_batch(FORK_EXPECTED, MAPPING) == single_reverse(FORK_EXPECTED)
    ok = ok and _accel.pretokenize_batch([], MAPPING) == []
    conn.send(ok)
    conn.close()


def run_forked_child(timeout=60):
    ctx = multiprocessing.get_context("fork")
    parent_end, child_end = ctx.Pipe(duplex=False)
    proc = ctx.Process(target=_child, args=(child_end,))
    proc.start()
    child_end.close()
    proc.join(timeout)
    if proc.is_alive():
        proc.kill()
        proc.join()
        pytest.fail("batch call in the forked child hung")
    assert proc.exitcode == 0
    assert parent_end.poll(1) and parent_end.recv() is True


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # fork with threads running
def test_batch_in_forked_child_after_parent_used_pool():
    assert _accel.pretokenize_batch(FORK_TEXTS, MAPPING) == FORK_EXPECTED  # pool is running here
    run_forked_child()
    assert _accel.pretokenize_batch(FORK_TEXTS, MAPPING) == FORK_EXPECTED  # and still in the parent


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.skipif(
    bool(os.environ.get("VONA_SANITIZER_RUN")),
    reason="the sanitizer's allocator can be inherited locked by a child forked while other threads allocate",
)
def test_fork_while_other_threads_run_batches():
    # Forks land at random moments of the pool's work, with its locks taken.
    stop = threading.Event()
    texts = make_texts(300, seed=9)

    def hammer():
        while not stop.is_set():
            _accel.pretokenize_batch(texts, MAPPING)
            _accel.pretokenize_batch(texts[:3], MAPPING)

    threads = [threading.Thread(target=hammer) for _ in range(2)]
    for t in threads:
        t.start()
    try:
        for _ in range(8):
            run_forked_child()
    finally:
        stop.set()
        for t in threads:
            t.join()


# ---- failures inside items ----------------------------------------------------

needs_encode_batch = pytest.mark.skipif(
    not hasattr(_accel.BPEEncoder, "encode_batch"), reason="BPEEncoder.encode_batch not built yet"
)


@needs_encode_batch
def test_item_failure_ends_the_batch_and_pool_stays_usable(tmp_path):
    # A vocabulary that lacks the byte 'b': items holding it fail inside the workers.
    tok = tmp_path / "tokenizer.json"
    tok.write_text(
        '{"added_tokens": [], "model": {"type": "BPE", "vocab": {"a": 0, "aa": 1}, "merges": [["a", "a"]]}}'
    )
    mapping = tmp_path / "vona_mapping.json"
    mapping.write_text('{"word_to_codepoint": {}}')
    enc = _accel.BPEEncoder(str(tok), str(mapping))
    good = ["a" * (i % 5) for i in range(2000)]
    assert enc.encode("aaaaa") == [1, 1, 0]
    for bad_at in ([0], [1999], [5, 700, 1500]):
        texts = list(good)
        for i in bad_at:
            texts[i] = "b"
        with pytest.raises(BaseException) as info:
            enc.encode_batch(texts)
        assert type(info.value).__name__ == "InternalError"
        assert str(info.value) == "single byte 0x62 missing from vocab"
    assert enc.encode_batch(good) == [enc.encode(t) for t in good]

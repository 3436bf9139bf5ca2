"""count_frequencies: gzip JSON-lines shards counted on the worker pool.

Shards are written into tmp_path with Python's gzip and zlib; damaged ones
are built byte by byte so that each fault of the gzip framing is hit."""

import gzip
import json
import math
import os
import pathlib
import re
import struct
import sysconfig
import threading
import zlib

import pytest

from vona_tokenizer import _accel

count_frequencies = _accel.count_frequencies

DATA = pathlib.Path(__file__).parent / "data"


def write(tmp_path, name, data: bytes):
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


def shard(tmp_path, name, lines, sep=b"\n"):
    """A gzip shard of the given lines (str or bytes), joined by sep."""
    raw = sep.join(x.encode() if isinstance(x, str) else x for x in lines)
    return write(tmp_path, name, gzip.compress(raw))


def member(data, flags=0, extra=b"", name=b"", comment=b"", hcrc=None, crc=None, size=None):
    """A gzip member built by hand, so that any header field or trailer value can be set."""
    head = b"\x1f\x8b\x08" + bytes([flags]) + b"\0\0\0\0\0\xff"
    if flags & 0x04:
        head += struct.pack("<H", len(extra)) + extra
    if flags & 0x08:
        head += name + b"\0"
    if flags & 0x10:
        head += comment + b"\0"
    if flags & 0x02:
        head += struct.pack("<H", zlib.crc32(head) & 0xFFFF if hcrc is None else hcrc)
    co = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = co.compress(data) + co.flush()
    trailer = struct.pack("<II", zlib.crc32(data) if crc is None else crc, len(data) if size is None else size)
    return head + body + trailer


def shard_error(paths, weight=0.0, limit=100):
    with pytest.raises(OSError) as info:
        count_frequencies(paths, weight, limit)
    exc = info.value
    # The message is the only argument; no errno, no file name.
    assert len(exc.args) == 1 and exc.errno is None and exc.filename is None
    return exc.args[0]


BASIC = ['{"text": "a b a"}', '{"id": 1}', ""]


@pytest.mark.parametrize(
    "lines, sep, weight, limit, expected",
    [
        (BASIC, b"\n", 0.0, 10, {"a": 2, "b": 1}),
        (BASIC, b"\r\n", 0.0, 10, {"a": 2, "b": 1}),
        # last line without LF, and a lone trailing LF that makes no extra line
        (['{"text": "x"}', '{"text": "y x"}'], b"\n", 0.0, 10, {"x": 2, "y": 1}),
        (['{"text": "x"}', ""], b"\n", 0.0, 10, {"x": 1}),
        # values without a string "text" are read and ignored
        (["42", "[1, 2]", '{"text": 5}', '{"txt": "a"}', "null", '{"text": "k"}'], b"\n", 0.0, 10, {"k": 1}),
        # white space around the value, escapes decoded before counting
        (['  {"text": "caf\\u00e9 \\"q\\""}\t'], b"\n", 0.0, 10, {"café": 1, '"': 2, "q": 1}),
        (['{"text": "getValue getValue"}'], b"\n", 0.25, 100, {"getValue": 2, "get": 1, "Value": 1}),
        (['{"text": "getValue"}'], b"\n", 0.25, 100, {"getValue": 1}),
        (['{"text": "foo fooBar"}'], b"\n", 1.0, 100, {"foo": 2, "fooBar": 1, "Bar": 1}),
        # boosts of one part summed over lines before rounding: 3 x 0.5 = 1.5 -> 2
        (['{"text": "aB"}'] * 3, b"\n", 0.5, 100, {"aB": 3, "a": 2, "B": 2}),
        # weight not above zero: plain counts
        (['{"text": "fooBar"}'], b"\n", float("nan"), 100, {"fooBar": 1}),
        (['{"text": "a bb ccc"}'], b"\n", 0.0, 2, {"a": 1, "bb": 1}),
        ([], b"\n", 1.0, 100, {}),
    ],
)
def test_shard_contents(tmp_path, lines, sep, weight, limit, expected):
    assert count_frequencies([shard(tmp_path, "s.gz", lines, sep)], weight, limit) == expected


def test_empty_list_and_path_forms(tmp_path):
    assert count_frequencies([], 1.0, 100) == {}
    p = shard(tmp_path, "s.gz", BASIC)
    q = shard(tmp_path, "t.gz", BASIC)
    doubled = {"a": 4, "b": 2}
    assert count_frequencies((pathlib.Path(p), pathlib.Path(q)), 0.0, 10) == doubled
    assert count_frequencies([p, p], 0.0, 10) == doubled
    assert count_frequencies(shard_paths=[p], boost_weight=0, max_token_len=True) == {"a": 2, "b": 1}


@pytest.mark.parametrize(
    "paths, message",
    [
        ("s.gz", "argument 'shard_paths': "),
        (None, "argument 'shard_paths': 'NoneType' object cannot be converted to 'Sequence'"),
        ([b"/tmp/s.gz"], "argument 'shard_paths': 'bytes' object cannot be converted to 'PyString'"),
        ([3], "argument 'shard_paths': expected str, bytes or os.PathLike object, not int"),
    ],
)
def test_refused_paths(paths, message):
    with pytest.raises(TypeError) as info:
        count_frequencies(paths, 0.0, 10)
    assert str(info.value).startswith(message)


def test_path_like_giving_bytes_is_refused():
    class BytesPath:
        def __fspath__(self):
            return b"/tmp/s.gz"

    with pytest.raises(TypeError, match=r"^argument 'shard_paths': 'bytes' object cannot be converted to 'PyString'$"):
        count_frequencies([BytesPath()], 0.0, 10)


def test_other_arguments_are_converted_after_the_paths():
    with pytest.raises(TypeError, match=r"^argument 'boost_weight': "):
        count_frequencies([], "1.0", 10)
    with pytest.raises(OverflowError) as info:
        count_frequencies([], 1.0, -1)
    assert not str(info.value).startswith("argument")
    with pytest.raises(TypeError, match=r"^argument 'shard_paths': "):
        count_frequencies("x", "bad", -1)


def test_file_errors(tmp_path):
    assert shard_error([str(tmp_path / "missing.gz")]) == "No such file or directory (os error 2)"
    assert shard_error([str(tmp_path)]) == "Is a directory (os error 21)"
    assert shard_error(["a\0b.gz"]) == "file name contained an unexpected NUL byte"


RAW = b'{"text": "a b a"}\n{"id": 1}\n'
GOOD = gzip.compress(RAW)


def flipped(data, start, stop):
    out = bytearray(data)
    for i in range(start, stop):
        out[i] ^= 0xFF
    return bytes(out)


# Valid framings that must read like a plain member.
@pytest.mark.parametrize(
    "data",
    [
        member(RAW, flags=0x01),
        member(RAW, flags=0x04, extra=b"AB\x02\x00xy"),
        member(RAW, flags=0x08, name=b"part-0001.jsonl"),
        member(RAW, flags=0x10, comment=b"made by hand"),
        member(RAW, flags=0x02 | 0x04 | 0x08 | 0x10, extra=b"q", name=b"n", comment=b"c"),
        member(RAW, flags=0x08, name=b"x" * 65535),  # the longest name accepted
        GOOD + gzip.compress(b'{"text": "second member"}\n'),  # only the first member counts
        GOOD + b"trailing junk",
    ],
    ids=["ftext", "fextra", "fname", "fcomment", "fhcrc-all", "name-at-bound", "two-members", "junk-after"],
)
def test_gzip_framings_read(tmp_path, data):
    assert count_frequencies([write(tmp_path, "s.gz", data)], 0.0, 10) == {"a": 2, "b": 1}


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "unexpected end of file"),
        (RAW, "invalid gzip header"),  # a plain JSON-lines file
        (b"\x1f", "unexpected end of file"),
        (b"\x1f\x8c" + GOOD[2:], "invalid gzip header"),
        (GOOD[:2] + b"\x07" + GOOD[3:], "invalid gzip header"),
        (member(RAW, flags=0x20), "invalid gzip header"),  # reserved flag bit
        (member(RAW, flags=0x80), "invalid gzip header"),
        (member(RAW, flags=0x02, hcrc=0x1234), "invalid gzip header"),  # header CRC mismatch
        (GOOD[:7], "unexpected end of file"),
        (member(RAW, flags=0x04, extra=b"x" * 40)[:30], "unexpected end of file"),
        (member(RAW, flags=0x08, name=b"x" * 100)[:50], "unexpected end of file"),
        (member(RAW, flags=0x08, name=b"x" * 65536), "gzip header field too long"),
        (member(RAW, flags=0x10, comment=b"c" * 200000), "gzip header field too long"),
        (GOOD[:10], "unexpected end of file"),  # header only
        (GOOD[:-12], "unexpected end of file"),  # inside the deflate data
        (GOOD[:-3], "unexpected end of file"),  # inside the trailer
        (member(RAW, crc=zlib.crc32(RAW) ^ 1), "corrupt gzip stream does not have a matching checksum"),
        (member(RAW, size=len(RAW) + 1), "corrupt gzip stream does not have a matching checksum"),
        (GOOD[:10] + b"\xff" * 8 + GOOD[18:], "corrupt deflate stream"),
    ],
    ids=[
        "empty", "plain", "one-byte", "bad-magic", "bad-method", "reserved-0x20", "reserved-0x80",
        "header-crc", "short-header", "short-extra", "short-name", "long-name", "long-comment",
        "no-deflate", "short-deflate", "short-trailer", "bad-crc", "bad-length", "damaged-deflate",
    ],
)
def test_gzip_faults(tmp_path, data, message):
    assert shard_error([write(tmp_path, "s.gz", data)]) == message


DATA_FAULTS = (
    "corrupt deflate stream",
    "corrupt gzip stream does not have a matching checksum",
    "unexpected end of file",
    "stream did not contain valid UTF-8",  # garbage decoded before the fault showed
)


def test_flipped_bytes_never_pass_silently(tmp_path):
    # Damage anywhere in the deflate data fails the call, never gives a result.
    raw = b"".join(json.dumps({"text": f"line {i} getValue"}).encode() + b"\n" for i in range(400))
    data = gzip.compress(raw)
    for start in range(10, len(data) - 8, max(1, (len(data) - 18) // 25)):
        message = shard_error([write(tmp_path, "s.gz", flipped(data, start, start + 2))])
        assert message in DATA_FAULTS or message.startswith("shard JSON parse error: "), (start, message)


@pytest.mark.parametrize(
    "line, message",
    [
        (b'{"text": "\xff"}', "stream did not contain valid UTF-8"),
        (b'{"text": "a"}\xc3\r', "stream did not contain valid UTF-8"),  # checked with the CR
        (b'{"text": "\xed\xa0\x80"}', "stream did not contain valid UTF-8"),  # encoded surrogate
        (b"{", r"shard JSON parse error: .+ at line 1 column \d+"),
        (b"   ", r"shard JSON parse error: .+ at line 1 column \d+"),
        (b'{"text": "a"} x', r"shard JSON parse error: trailing characters at line 1 column \d+"),
        (b"[" * 129 + b"]" * 129, r"shard JSON parse error: recursion limit exceeded at line 1 column \d+"),
    ],
)
def test_line_faults(tmp_path, line, message):
    path = shard(tmp_path, "s.gz", [b'{"text": "ok"}', line, b'{"text": "after"}'])
    assert re.fullmatch(message, shard_error([path]))


def test_long_lines_and_many_lines(tmp_path):
    # One line far beyond the 8 KiB output buffer, and short lines whose
    # boundaries fall at every offset of the buffer.
    long_text = " ".join(f"w{i % 1000}" for i in range(200_000))
    short = [json.dumps({"text": f"t{i % 7}"}) for i in range(30_000)]
    path = shard(tmp_path, "s.gz", [json.dumps({"text": long_text})] + short)
    got = count_frequencies([path], 0.0, 10)
    expected = {f"w{i}": 200 for i in range(1000)}
    expected.update({f"t{i}": len(range(i, 30_000, 7)) for i in range(7)})
    assert got == expected


def test_one_failing_shard_among_many(tmp_path):
    good = [shard(tmp_path, f"g{i}.gz", [json.dumps({"text": f"tok{i} common"})]) for i in range(16)]
    bad = write(tmp_path, "bad.gz", RAW)
    for position in (0, 7, 16):
        paths = good[:position] + [bad] + good[position:]
        assert shard_error(paths, 1.0, 100) == "invalid gzip header"
    # Several failures: one of their messages, nothing else.
    missing = str(tmp_path / "missing.gz")
    assert shard_error([missing] + good + [bad], 1.0, 100) in ("invalid gzip header",
                                                              "No such file or directory (os error 2)")
    # The module goes on working normally.
    got = count_frequencies(good, 0.0, 100)
    assert got == {"common": 16, **{f"tok{i}": 1 for i in range(16)}}


# ---- equivalence with per-text counting ---------------------------------


def corpus_texts():
    stdlib = pathlib.Path(sysconfig.get_paths()["stdlib"])
    texts = [(DATA / "prose_multiscript.txt").read_text(encoding="utf-8")]
    for name in ("textwrap.py", "json/encoder.py", "argparse.py", "string.py", "dataclasses.py"):
        texts.append((stdlib / name).read_text(encoding="utf-8"))
    # Lines of the sources as texts of their own, too: many small records.
    texts += [line for t in texts[1:3] for line in t.splitlines() if line.strip()]
    return texts


def python_round(b):
    """Nearest integer, halves away from zero, saturated to u64."""
    if math.isnan(b) or b <= 0:
        return 0
    if math.isinf(b):
        return 2**64 - 1
    f = math.floor(b)
    return min(f + 1 if b - f >= 0.5 else f, 2**64 - 1)


def reference(shards, weight, limit):
    """The expected table, from the token and identifier functions: boosts
    summed one occurrence at a time in the order the native counter adds them
    (text order within a shard, then shard order)."""
    counts, boosts = {}, {}
    for texts in shards:
        shard_boosts = {}
        for text in texts:
            for tok in _accel.iter_token_strings(text):
                if len(tok) > limit:
                    continue
                counts[tok] = counts.get(tok, 0) + 1
                if not weight > 0.0 or not _accel.is_identifier(tok):
                    continue
                for part in _accel.split_identifier(tok):
                    if part != tok:
                        shard_boosts[part] = shard_boosts.get(part, 0.0) + weight
        for k, v in shard_boosts.items():
            boosts[k] = boosts.get(k, 0.0) + v
    for part, b in boosts.items():
        r = python_round(b)
        if r:
            counts[part] = counts.get(part, 0) + r
    return counts


@pytest.mark.parametrize("weight", [0.0, 0.375, 0.1, 1.0 / 3.0])
def test_matches_per_text_counting(tmp_path, weight):
    texts = corpus_texts()
    # The whole files go to the first shard, the single lines to twenty small
    # ones: the small shards finish first and wait for the first to be merged.
    shards = [texts[:6]] + [texts[6 + i :: 20] for i in range(20)]
    paths = [shard(tmp_path, f"s{i}.gz", [json.dumps({"text": t}) for t in s]) for i, s in enumerate(shards)]
    limit = 12
    assert count_frequencies(paths, weight, limit) == reference(shards, weight, limit)


def test_infinite_weight_saturates(tmp_path):
    path = shard(tmp_path, "s.gz", ['{"text": "fooBar"}'])
    assert count_frequencies([path], float("inf"), 100) == {"fooBar": 1, "foo": 2**64 - 1, "Bar": 2**64 - 1}


def test_concurrent_calls(tmp_path):
    paths = [shard(tmp_path, f"s{i}.gz", [json.dumps({"text": t}) for t in corpus_texts()[i::3]]) for i in range(3)]
    expected = count_frequencies(paths, 0.5, 20)
    results = [None] * 4

    def run(k):
        results[k] = count_frequencies(paths[k % 3 :] + paths[: k % 3], 0.5, 20)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == expected for r in results)

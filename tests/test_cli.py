"""The command-line tool, run as a process."""

import gzip
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

DATA = Path(__file__).parent / "data"


def run(tmp_path, *args, stdin=None):
    # cwd is the temporary folder so that the installed package is the one imported.
    return subprocess.run(
        [sys.executable, "-m", "vona_tokenizer", *map(str, args)],
        input=stdin, capture_output=True, text=True, cwd=tmp_path, timeout=120,
    )


def test_help_lists_every_command(tmp_path):
    out = run(tmp_path, "--help")
    assert out.returncode == 0
    for command in ("tokens", "split-identifier", "scan", "pretokenize", "encode", "decode", "count"):
        assert command in out.stdout


def test_tokens_of_files_and_stdin(tmp_path):
    f = tmp_path / "a.py"
    f.write_text("x->y  # done\n", encoding="utf-8")
    out = run(tmp_path, "tokens", f, "-", stdin="foo_bar-baz qux")
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["x", "->", "y", "#", "done", "foo_bar-baz", "qux"]


def test_split_identifier(tmp_path):
    out = run(tmp_path, "split-identifier", "getJSONValue", "snake_case_name")
    assert out.returncode == 0
    assert out.stdout.splitlines() == ["get JSON Value", "snake case name"]


@pytest.mark.parametrize(
    "command",
    [
        ("tokens", "missing.txt"),
        ("scan", "missing.txt"),
        ("encode", "--tokenizer", "missing.json", "--mapping", "missing.json"),
        ("count", "missing.jsonl.gz"),
    ],
)
def test_missing_file_is_a_one_line_error(tmp_path, command):
    out = run(tmp_path, *command, stdin="")
    assert out.returncode == 1
    assert out.stderr.startswith("vona-tokenizer: error: ")
    assert len(out.stderr.splitlines()) == 1
    assert "Traceback" not in out.stderr


def test_scan_exit_status(tmp_path):
    clean = tmp_path / "clean.txt"
    clean.write_text("nothing to see here\n")
    leaky = tmp_path / "leaky.env"
    leaky.write_text("AWS_KEY=AKIA" + "ABCDEFGHIJKLMNOP" + "\n")
    out = run(tmp_path, "scan", clean)
    assert (out.returncode, out.stdout) == (0, "")
    out = run(tmp_path, "scan", clean, leaky)
    assert out.returncode == 1
    assert out.stdout == f"{leaky}: aws_access_key\n"


def test_pretokenize_with_mapping(tmp_path):
    mapping = tmp_path / "map.json"
    mapping.write_text(json.dumps({"word_to_codepoint": {"value": 0xE000}}))
    src = tmp_path / "src.py"
    src.write_text("get_value = value\n")
    out = run(tmp_path, "pretokenize", "--mapping", mapping, src)
    assert out.returncode == 0, out.stderr
    assert out.stdout == "get_\ue000 = \ue000\n"


def test_encode_decode_round_trip(tmp_path):
    tok, mapping = DATA / "gpt2" / "tokenizer.json", DATA / "gpt2" / "vona_mapping.json"
    text = "def hello():\n    return 'world'\n"
    enc = run(tmp_path, "encode", "--tokenizer", tok, "--mapping", mapping, stdin=text)
    assert enc.returncode == 0, enc.stderr
    ids = enc.stdout.split()
    assert ids and all(i.isdigit() for i in ids)
    dec = run(tmp_path, "decode", "--tokenizer", tok, "--mapping", mapping, *ids)
    assert dec.returncode == 0, dec.stderr
    assert dec.stdout == text


def test_malformed_tokenizer_is_a_one_line_error(tmp_path):
    bad = tmp_path / "tokenizer.json"
    bad.write_text("{")
    out = run(tmp_path, "encode", "--tokenizer", bad, "--mapping", bad, stdin="x")
    assert out.returncode == 1
    assert out.stderr == (
        "vona-tokenizer: error: cannot load tokenizer: "
        "tokenizer.json parse error: EOF while parsing an object at line 1 column 1\n"
    )


def test_count_prints_top_tokens_and_summary(tmp_path):
    shard = tmp_path / "s.jsonl.gz"
    with gzip.open(shard, "wt", encoding="utf-8") as f:
        f.write(json.dumps({"text": "a b a"}) + "\n" + json.dumps({"text": "a c"}) + "\n")
    out_json = tmp_path / "counts.json"
    out = run(tmp_path, "count", shard, "--top", "2", "--json", out_json)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0].split() == ["'a'", "3"]
    assert lines[1].split() == ["'b'", "1"]
    assert lines[2].startswith("shards: 1  bytes read: ")
    assert json.loads(out_json.read_text()) == {"a": 3, "b": 1, "c": 1}


def test_count_bad_shard_is_a_one_line_error(tmp_path):
    plain = tmp_path / "plain.jsonl"
    plain.write_text('{"text": "a"}\n')
    out = run(tmp_path, "count", plain)
    assert out.returncode == 1
    assert out.stderr == "vona-tokenizer: error: counting failed: invalid gzip header\n"

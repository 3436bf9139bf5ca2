"""Loading a BPEEncoder: file reading, the tokenizer and mapping files, the class itself."""

import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

from byte_alphabet import ids, write_tokenizer
from vona_tokenizer import _accel
from vona_tokenizer._accel import BPEEncoder

DATA = pathlib.Path(__file__).parent / "data"
GPT2 = DATA / "gpt2"


def tokenizer_doc(vocab, added=(), merges=()):
    return {
        "added_tokens": list(added),
        "model": {"type": "BPE", "vocab": vocab, "merges": [m if isinstance(m, str) else list(m) for m in merges]},
    }


@pytest.fixture
def files(tmp_path):
    """Writes a tokenizer file and a mapping file; returns their paths as str."""

    def write(tokenizer=None, mapping=None):
        tok = tmp_path / "tokenizer.json"
        mp = tmp_path / "vona_mapping.json"
        if tokenizer is None:
            tokenizer = tokenizer_doc({"a": 0, "b": 1})
        if mapping is None:
            mapping = {"word_to_codepoint": {}}
        for path, content in ((tok, tokenizer), (mp, mapping)):
            if isinstance(content, bytes):
                path.write_bytes(content)
            elif isinstance(content, str):
                path.write_text(content, encoding="utf-8")
            else:
                path.write_text(json.dumps(content), encoding="utf-8")
        return str(tok), str(mp)

    return write


def load_error(tok, mp):
    with pytest.raises(OSError) as info:
        BPEEncoder(tok, mp)
    exc = info.value
    # Only the message, no errno/filename decoration.
    assert type(exc) is OSError and len(exc.args) == 1 and exc.errno is None and exc.filename is None
    return exc.args[0]


# ---- reading files ------------------------------------------------------------------------


def test_gpt2_fixture_loads():
    enc = BPEEncoder(str(GPT2 / "tokenizer.json"), str(GPT2 / "vona_mapping.json"))
    assert enc.vocab_size() == 50257


@pytest.mark.parametrize(
    "which, make, message",
    [
        ("tokenizer", lambda d: str(d / "missing.json"), "No such file or directory (os error 2)"),
        ("mapping", lambda d: str(d / "missing.json"), "No such file or directory (os error 2)"),
        ("tokenizer", lambda d: str(d), "Is a directory (os error 21)"),
        ("mapping", lambda d: str(d), "Is a directory (os error 21)"),
        ("tokenizer", lambda d: str(d / "tokenizer.json" / "x"), "Not a directory (os error 20)"),
        ("tokenizer", lambda d: str(d / "tokenizer.json") + "\0", "file name contained an unexpected NUL byte"),
        ("mapping", lambda d: "\0" + str(d / "vona_mapping.json"), "file name contained an unexpected NUL byte"),
    ],
)
def test_os_and_path_errors(files, tmp_path, which, make, message):
    tok, mp = files()
    bad = make(tmp_path)
    args = (bad, mp) if which == "tokenizer" else (tok, bad)
    assert load_error(*args) == message


def test_file_whose_size_is_not_known_in_advance(files):
    # /proc files report a length of 0 and still have content: the read must
    # not stop at the reported length (the content then fails to parse as JSON).
    _, mp = files()
    assert load_error("/proc/self/status", mp) == "tokenizer.json parse error: expected value at line 1 column 1"


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files regardless of their mode")
def test_permission_denied(files):
    tok, mp = files()
    os.chmod(tok, 0)
    assert load_error(tok, mp) == "Permission denied (os error 13)"


@pytest.mark.parametrize(
    "content",
    [
        b'{"added_tokens": [], "model": {"type": "BPE", "vocab": {"\xff": 0}, "merges": []}}',
        b"\xc3",  # a sequence cut short at the end of the file
        b'{"added_tokens": [], "model": {"type": "\xed\xa0\x80", "vocab": {}, "merges": []}}',  # a surrogate
    ],
)
@pytest.mark.parametrize("which", ["tokenizer", "mapping"])
def test_not_utf8(files, which, content):
    args = files(tokenizer=content) if which == "tokenizer" else files(mapping=content)
    assert load_error(*args) == "stream did not contain valid UTF-8"


def test_tokenizer_failure_is_reported_before_the_mapping_file(files, tmp_path):
    _, mp = files(mapping="not json")
    assert load_error(str(tmp_path / "missing.json"), mp) == "No such file or directory (os error 2)"
    tok, _ = files(tokenizer="{")
    assert load_error(tok, str(tmp_path / "missing.json")).startswith("tokenizer.json parse error: ")


def test_mapping_file_is_not_opened_when_the_tokenizer_fails(tmp_path):
    # Opening a FIFO for reading blocks until a writer appears: if the loader
    # touched the mapping path after the tokenizer failed, the child would hang.
    fifo = tmp_path / "mapping.fifo"
    os.mkfifo(fifo)
    (tmp_path / "bad.json").write_text("[", encoding="utf-8")
    code = textwrap.dedent(
        f"""
        from vona_tokenizer._accel import BPEEncoder
        for tok in ({str(tmp_path / 'missing.json')!r}, {str(tmp_path / 'bad.json')!r}):
            try:
                BPEEncoder(tok, {str(fifo)!r})
            except OSError as e:
                print(e)
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=60, env=dict(os.environ), cwd=tmp_path
    )
    lines = out.stdout.splitlines()
    assert out.returncode == 0, out.stderr
    assert lines[0] == "No such file or directory (os error 2)"
    assert lines[1].startswith("tokenizer.json parse error: ")


@pytest.mark.parametrize("name", ["tokenizer_json", "vona_mapping_json"])
def test_path_objects_are_refused(files, name):
    tok, mp = files()
    kwargs = {"tokenizer_json": tok, "vona_mapping_json": mp}
    kwargs[name] = pathlib.Path(kwargs[name])
    with pytest.raises(TypeError) as info:
        BPEEncoder(**kwargs)
    assert str(info.value) == f"argument '{name}': 'PosixPath' object cannot be converted to 'PyString'"


def test_constructor_binding(files):
    tok, mp = files()
    with pytest.raises(TypeError, match=r"^BPEEncoder.__new__\(\) missing 1 required positional argument: "
                                        r"'vona_mapping_json'$"):
        BPEEncoder(tok)
    with pytest.raises(TypeError, match=r"^BPEEncoder.__new__\(\) got multiple values for argument "
                                        r"'tokenizer_json'$"):
        BPEEncoder(tok, mp, tokenizer_json=tok)
    assert BPEEncoder(vona_mapping_json=mp, tokenizer_json=tok).vocab_size() == 2


# ---- file contents ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "word, codepoint, message",
    [
        ("foo", 55296, 'invalid codepoint U+D800 for word "foo"'),
        ("foo", 0xDFFF, 'invalid codepoint U+DFFF for word "foo"'),
        ("foo", 1114112, 'invalid codepoint U+110000 for word "foo"'),
        ("foo", 4294967295, 'invalid codepoint U+FFFFFFFF for word "foo"'),
        ('say "hi"', 0xD800, r'invalid codepoint U+D800 for word "say \"hi\""'),
        ("a\\b", 0xD800, r'invalid codepoint U+D800 for word "a\\b"'),
        ("a\tb\nc\rd", 0xD800, r'invalid codepoint U+D800 for word "a\tb\nc\rd"'),
        ("nul\0", 0xD800, r'invalid codepoint U+D800 for word "nul\0"'),
        ("e\u0301", 0xD800, r'invalid codepoint U+D800 for word "e\u{301}"'),  # combining mark
        ("\u0301x", 0xD800, r'invalid codepoint U+D800 for word "\u{301}x"'),
        ("bell\x07", 0xD800, r'invalid codepoint U+D800 for word "bell\u{7}"'),
        ("zw\u200bsp", 0xD800, r'invalid codepoint U+D800 for word "zw\u{200b}sp"'),
        ("", 0xD800, 'invalid codepoint U+D800 for word ""'),
        ("café ☃ 𝔘", 0x110000, 'invalid codepoint U+110000 for word "café ☃ 𝔘"'),
    ],
)
def test_invalid_codepoint_quotes_the_word(files, word, codepoint, message):
    assert load_error(*files(mapping={"word_to_codepoint": {"ok": 0xE000, word: codepoint}})) == message


@pytest.mark.parametrize("codepoint", [0, 65, 0xD7FF, 0xE000, 0xE000 + 6399, 0x10FFFF])
def test_scalar_values_load(files, codepoint):
    assert BPEEncoder(*files(mapping={"word_to_codepoint": {"w": codepoint}})).vocab_size() == 2


@pytest.mark.parametrize(
    "vocab, added, size",
    [
        ({}, [], 1),
        ({"a": 0}, [], 1),
        ({"a": 0, "c": 2}, [], 3),
        ({"a": 0, "b": 1, "c": 2, "d": 3}, [{"id": 5, "content": "<x>"}], 6),
        ({"a": 0, "b": 9}, [{"id": 4, "content": "<x>", "special": True}], 10),
        ({}, [{"id": 7, "content": "<x>"}], 8),
        ({"a": 3}, [{"id": 3, "content": "<x>"}, {"id": 1, "content": "<x>"}], 4),  # repeated content
        ({"a": 0}, [{"id": 2, "content": ""}], 3),  # empty content still counts
    ],
)
def test_vocab_size(files, vocab, added, size):
    assert BPEEncoder(*files(tokenizer=tokenizer_doc(vocab, added))).vocab_size() == size


def test_repeated_vocab_key_keeps_the_last_id(files):
    text = '{"added_tokens": [], "model": {"type": "BPE", "vocab": {"a": 9, "b": 1, "a": 0}, "merges": []}}'
    assert BPEEncoder(*files(tokenizer=text)).vocab_size() == 2


@pytest.mark.parametrize(
    "vocab, added, message",
    [
        ({"a": 4294967295}, [], "tokenizer.json: token id 4294967295 is too large: the vocabulary size would not "
                                 "fit in 32 bits"),
        ({"a": 0}, [{"id": 4294967295, "content": "<x>"}], "tokenizer.json: token id 4294967295 is too large: the "
                                                           "vocabulary size would not fit in 32 bits"),
        ({"a": 0, "b": 100_000_000}, [], "tokenizer.json: token id 100000000 is too large for 2 tokens (ids must "
                                          "be below 1048580)"),
        ({"a": 0}, [{"id": (1 << 20) + 4, "content": "<x>"}], "tokenizer.json: token id 1048580 is too large for 2 "
                                                              "tokens (ids must be below 1048580)"),
    ],
)
def test_ids_far_beyond_the_token_count_are_refused(files, vocab, added, message):
    assert load_error(*files(tokenizer=tokenizer_doc(vocab, added))) == message


def test_sparse_ids_up_to_the_bound_load(files):
    # Two tokens allow ids below 2**20 + 4: the largest one still loads.
    enc = BPEEncoder(*files(tokenizer=tokenizer_doc({"a": 0}, [{"id": (1 << 20) + 3, "content": "<x>"}])))
    assert enc.vocab_size() == (1 << 20) + 4


def test_lenient_content_loads(files):
    # Merges naming unknown strings, any model type, added tokens with only id
    # and content, unknown keys at every level: all load.
    doc = {
        "version": "1.0",
        "added_tokens": [{"id": 3, "content": "<s>", "extra": [1, {"x": None}]}],
        "model": {"type": "Whatever", "vocab": {"a": 0, "b": 1}, "merges": [["zz", "qq"]], "dropout": None},
        "decoder": {"type": "ByteLevel"},
    }
    assert BPEEncoder(*files(tokenizer=doc, mapping={"word_to_codepoint": {}, "other": 1})).vocab_size() == 4


# ---- the class ----------------------------------------------------------------------------


@pytest.fixture
def enc(files):
    return BPEEncoder(*files())


def test_class_shape(enc):
    assert BPEEncoder.__module__ == "vona_tokenizer._accel"
    assert BPEEncoder.__qualname__ == "BPEEncoder"
    assert BPEEncoder.__text_signature__ == "(tokenizer_json, vona_mapping_json)"
    assert _accel.__all__.index("BPEEncoder") == 2
    assert BPEEncoder.vocab_size.__text_signature__ == "($self)"
    assert isinstance(enc.vocab_size(), int)
    assert repr(enc).startswith("<vona_tokenizer._accel.BPEEncoder object at 0x")
    assert enc == enc and enc != BPEEncoder(*[str(p) for p in (GPT2 / "tokenizer.json", GPT2 / "vona_mapping.json")])
    assert hash(enc) == hash(enc)
    assert not hasattr(enc, "__dict__")


def test_class_is_closed(enc):
    with pytest.raises(TypeError):

        class Sub(BPEEncoder):
            pass

    with pytest.raises(AttributeError):
        enc.anything = 1
    with pytest.raises(AttributeError):
        enc.vocab_size = 1
    with pytest.raises(TypeError):
        import weakref

        weakref.ref(enc)


def test_vocab_size_arguments(enc):
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        enc.vocab_size(1)
    with pytest.raises(TypeError, match=r"'int'"):
        BPEEncoder.vocab_size(42)
    assert BPEEncoder.vocab_size(enc) == 2



# ---- what the loaded tables hold, seen through encode and decode ----------------------------
# A vocabulary of the 256 byte-level characters (byte b at id b) encodes
# ordinary text to its bytes, so any other id is visibly a table entry.


@pytest.mark.parametrize("special", [True, False])
def test_vocabulary_token_sharing_a_special_id(tmp_path, special):
    # "xy" has the id of an added token: when that token is special, "xy" is
    # not looked up by text any more; its id still decodes to the added text.
    enc = BPEEncoder(*write_tokenizer(tmp_path, [("<s>", 256, special)], vocab_extra={"xy": 256}))
    assert enc.encode("xy") == (ids("xy") if special else [256])
    assert enc.encode("<s>") == [256]
    assert enc.decode([256]) == "<s>"


def test_gaps_and_ids_beyond_the_vocabulary(tmp_path):
    enc = BPEEncoder(*write_tokenizer(tmp_path, [("<x>", 300)], vocab_extra={"ab": 258}))
    assert enc.vocab_size() == 301
    assert enc.decode(ids("a", 256, 257, "b", 299, 258, 300, 301)) == "abab<x>"


def test_repeated_added_token_ids_keep_the_later_content(tmp_path):
    enc = BPEEncoder(*write_tokenizer(tmp_path, [("<a>", 256), ("<b>", 256)]))
    assert enc.decode([256]) == "<b>"
    assert enc.encode("<a><b>") == [256, 256]  # both texts still find the id


@pytest.mark.parametrize(
    "mapping, text, expected_ids, decoded",
    [
        ({"foo": 65}, "foo bar", ids("A bar"), "A bar"),  # any scalar value, used as is
        ({"foo": 0xE000}, "foo bar", ids("\ue000 bar"), "foo bar"),
        ({"foo": 0xE000, "bar": 0xE000}, "foo", ids("\ue000"), None),  # two words, one character
        ({}, "foo", ids("foo"), "foo"),
    ],
)
def test_word_mapping_from_the_mapping_file(tmp_path, mapping, text, expected_ids, decoded):
    enc = BPEEncoder(*write_tokenizer(tmp_path, mapping=mapping))
    assert enc.encode(text) == expected_ids
    if decoded is None:
        assert enc.decode(expected_ids) in ("foo", "bar")
    else:
        assert enc.decode(expected_ids) == decoded

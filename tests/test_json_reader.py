"""The JSON reader: JSONTestSuite documents in skipped positions of the two
tokenizer files and as shard lines, the shard line rules (depth limit, the
"text" member, converted numbers), and documents written by Python's json."""

import gzip
import json
import pathlib
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vona_tokenizer import _accel

SUITE = pathlib.Path(__file__).parent / "data" / "jsontestsuite" / "test_parsing"
DOCS = sorted(SUITE.iterdir())

MODEL = '{"type": "BPE", "vocab": {"a": 0}, "merges": []}'
TOKENIZER = '{"added_tokens": [], "model": ' + MODEL + "}"
MAPPING = '{"word_to_codepoint": {}}'
UTF8_FAULT = "stream did not contain valid UTF-8"
LINE_PREFIX = "shard JSON parse error: "


def is_utf8(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def load(tmp_path, tokenizer=TOKENIZER.encode(), mapping=MAPPING.encode()):
    tok = tmp_path / "tokenizer.json"
    tok.write_bytes(tokenizer)
    mp = tmp_path / "vona_mapping.json"
    mp.write_bytes(mapping)
    return _accel.BPEEncoder(str(tok), str(mp))


def skipped_in_tokenizer(doc):
    # The line feed after the document keeps it apart from the closing brace.
    return TOKENIZER[:-1].encode() + b', "extra": ' + doc + b"\n}"


def skipped_in_mapping(doc):
    return b'{"x": ' + doc + b'\n, "word_to_codepoint": {}}'


def count_lines(tmp_path, lines, name="shard.jsonl.gz"):
    path = tmp_path / name
    path.write_bytes(gzip.compress(b"\n".join(lines)))
    return _accel.count_frequencies([str(path)], 0.0, 100)


def line_error(tmp_path, line):
    with pytest.raises(OSError) as info:
        count_lines(tmp_path, [line])
    return info.value.args[0]


def text_counts(text):
    return _accel.count_in_text(text, 0.0, 100)[0]


# ---------------------------------------------------------------- JSONTestSuite


@pytest.mark.parametrize("doc", DOCS, ids=lambda p: p.name)
@pytest.mark.parametrize("where", ["tokenizer", "mapping"])
def test_suite_document_in_skipped_position(tmp_path, doc, where):
    data = doc.read_bytes()
    if where == "tokenizer":
        files, prefix = {"tokenizer": skipped_in_tokenizer(data)}, "tokenizer.json parse error: "
    else:
        files, prefix = {"mapping": skipped_in_mapping(data)}, "vona_mapping.json parse: "
    kind = doc.name[0]
    if kind == "y":
        load(tmp_path, **files)
        return
    try:
        load(tmp_path, **files)
    except OSError as e:
        message = e.args[0]
    else:
        # Documents left to the implementer may be taken either way.
        assert kind == "i", "accepted"
        return
    assert message.startswith(prefix) if is_utf8(data) else message == UTF8_FAULT, message


LINE_DOCS = [p for p in DOCS if p.read_bytes() and b"\n" not in p.read_bytes().rstrip(b"\n")]


@pytest.mark.parametrize("doc", LINE_DOCS, ids=lambda p: p.name)
def test_suite_document_as_shard_line(tmp_path, doc):
    data = doc.read_bytes().rstrip(b"\n")
    kind = doc.name[0]
    if kind == "y":
        count_lines(tmp_path, [data])
    elif kind == "n":
        message = line_error(tmp_path, data)
        assert message.startswith(LINE_PREFIX) if is_utf8(data) else message == UTF8_FAULT, message
    else:
        try:
            count_lines(tmp_path, [data])
        except OSError as e:
            assert e.args[0].startswith(LINE_PREFIX) or e.args[0] == UTF8_FAULT


# ---------------------------------------------------------------- shard lines


@pytest.mark.parametrize(
    "line, message",
    [
        (b"{", "EOF while parsing an object at line 1 column 1"),
        (b"   ", "EOF while parsing a value at line 1 column 3"),
        (b"[1, 2", "EOF while parsing a list at line 1 column 5"),
        (b'{"text": "a"} x', "trailing characters at line 1 column 15"),
        (b'{"text": "a",}', "trailing comma at line 1 column 14"),
        (b'{"text": "a" "b"}', "expected `,` or `}` at line 1 column 14"),
        (b'{"text" "a"}', "expected `:` at line 1 column 9"),
        (b'{1: "a"}', "key must be a string at line 1 column 2"),
        (b"\xef\xbb\xbf{}", "expected value at line 1 column 1"),
        # every number is converted and every string decoded, counted or not
        (b'{"text": "a", "n": 1e400}', "number out of range at line 1 column 24"),
        (b"[-1e400]", "number out of range at line 1 column 7"),
        (b"[1" + b"0" * 400 + b"]", "number out of range at line 1 column 402"),
        (b'{"text": "a", "s": "\\ud800"}', "unexpected end of hex escape at line 1 column 27"),
        (b'["\\udc00"]', "lone leading surrogate in hex escape at line 1 column 8"),
        (b'{"\\ud800": 1}', "unexpected end of hex escape at line 1 column 9"),
        # the nesting limit: the 128th open bracket, wherever it stands
        (b"[" * 128 + b"]" * 128, "recursion limit exceeded at line 1 column 128"),
        (b'{"a":' * 128 + b"0" + b"}" * 128, "recursion limit exceeded at line 1 column 636"),
        (b'{"text": ' + b"[" * 127 + b"]" * 127 + b"}", "recursion limit exceeded at line 1 column 136"),
        (b"[" * 100_000, "recursion limit exceeded at line 1 column 128"),
    ],
)
def test_line_faults(tmp_path, line, message):
    assert line_error(tmp_path, line) == LINE_PREFIX + message


@pytest.mark.parametrize(
    "line",
    [
        b"[" * 127 + b"]" * 127,
        b'{"a":' * 127 + b"0" + b"}" * 127,
        b'{"text": ' + b"[" * 126 + b"]" * 126 + b"}",
        b"[" * 126 + b"{}" + b"]" * 126,
    ],
)
def test_nesting_up_to_the_limit_reads(tmp_path, line):
    assert count_lines(tmp_path, [line]) == {}


@pytest.mark.parametrize(
    "line, text",
    [
        (b'{"text": "a b a"}', "a b a"),
        # the last member named "text" decides, whatever came before
        (b'{"text": "a", "text": "b"}', "b"),
        (b'{"text": "a", "text": 5}', None),
        (b'{"text": 5, "text": "b"}', "b"),
        (b'{"text": "a", "text": null, "x": "c"}', None),
        # keys are compared after unescaping
        (b'{"t\\u0065xt": "a"}', "a"),
        (b'{"Text": "a", "text ": "b"}', None),
        # only the top-level object counts
        (b'{"x": {"text": "a"}}', None),
        (b'[{"text": "a"}]', None),
        (b'"text"', None),
        (b'{"text": "caf\\u00e9 \\ud83d\\ude00 tab\\there \\"q\\" \\/ \\\\"}', 'café 😀 tab\there "q" / \\'),
        (b' \t{"id": 7, "text": "x y", "meta": {"text": "z"}} \t', "x y"),
    ],
)
def test_line_text_member(tmp_path, line, text):
    assert count_lines(tmp_path, [line]) == ({} if text is None else text_counts(text))


# ---------------------------------------------------------------- documents written by Python

json_values = st.recursive(
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**70), max_value=2**70)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(max_size=6), inner, max_size=4),
    max_leaves=20,
)
# Shard lines count the "text" member of an object: make it common.
documents = json_values | st.builds(
    lambda d, t: {**d, "text": t}, st.dictionaries(st.text(max_size=6), json_values, max_size=3), st.text()
)


def render(value, rnd, ensure_ascii, spaces):
    """json.dumps for the scalars, random white space between all tokens."""

    def ws():
        return "".join(rnd.choice(spaces) for _ in range(rnd.choice((0, 0, 1, 3))))

    def go(v):
        if isinstance(v, list):
            return "[" + ws() + ",".join(ws() + go(x) + ws() for x in v) + ws() + "]"
        if isinstance(v, dict):
            items = (ws() + json.dumps(k, ensure_ascii=ensure_ascii) + ws() + ":" + ws() + go(x) + ws() for k, x in v.items())
            return "{" + ws() + ",".join(items) + ws() + "}"
        return json.dumps(v, ensure_ascii=ensure_ascii, allow_nan=False)

    return ws() + go(value) + ws()


def no_surrogates(v):
    if isinstance(v, str):
        return not any(0xD800 <= ord(c) <= 0xDFFF for c in v)
    if isinstance(v, list):
        return all(no_surrogates(x) for x in v)
    if isinstance(v, dict):
        return all(no_surrogates(k) and no_surrogates(x) for k, x in v.items())
    return True


@settings(max_examples=150, deadline=None)
@given(value=documents, ensure_ascii=st.booleans(), seed=st.integers(0, 2**32))
def test_python_documents_read_in_every_position(tmp_path_factory, value, ensure_ascii, seed):
    rnd = random.Random(seed)
    tmp_path = tmp_path_factory.mktemp("doc")
    # Lone surrogates cannot be written as UTF-8; escaped ones are only
    # accepted where strings are not decoded.
    if no_surrogates(value) or ensure_ascii:
        doc = render(value, rnd, ensure_ascii, " \t\n\r").encode()
        load(tmp_path, tokenizer=skipped_in_tokenizer(doc), mapping=skipped_in_mapping(doc))
    if no_surrogates(value):
        line = render(value, rnd, ensure_ascii, " \t\r").encode()
        text = value.get("text") if isinstance(value, dict) else None
        expected = text_counts(text) if isinstance(text, str) else {}
        assert count_lines(tmp_path, [line]) == expected


@settings(max_examples=150, deadline=None)
@given(
    content=st.text(st.characters(blacklist_categories=("Cs",)), min_size=1, max_size=30),
    ensure_ascii=st.booleans(),
)
def test_strings_decode_as_python_wrote_them(tmp_path_factory, content, ensure_ascii):
    # An added token's text comes back verbatim from decode.
    token = json.dumps(content, ensure_ascii=ensure_ascii)
    tokenizer = '{"added_tokens": [{"id": 1, "content": ' + token + '}], "model": ' + MODEL + "}"
    enc = load(tmp_path_factory.mktemp("str"), tokenizer=tokenizer.encode())
    assert enc.decode([1]) == content

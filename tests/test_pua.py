"""PUA substitution: the pretokenizer (text and piece forms), the reverse
substitution, the private-use test, and their batch forms."""

from concurrent.futures import ThreadPoolExecutor

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import text_oracle as oracle
from vona_tokenizer import _accel

PM = _accel.PreparedMapping
E0, E1, E2, E3 = "\ue000", "\ue001", "\ue002", "\ue003"


def prepared(w2p, p2w=None):
    return PM(w2p, {} if p2w is None else p2w)


@pytest.mark.parametrize(
    "w2p, text, pieces",
    [
        ({"getValue": E0}, "getValue", [E0]),
        ({"get": E0, "value": E1}, "getValue", [E0, "Value"]),  # case-sensitive
        ({"Value": E1}, "getValue", ["get", E1]),
        ({"init": E2}, "__init__", ["_", "_", E2, "_", "_"]),
        # Underscores of an identifier are never looked up, only whole tokens.
        ({"_": E0, "init": E2}, "__init__ _", ["_", "_", E2, "_", "_", " ", E0]),
        ({"__init__": E0, "init": E2}, "__init__", [E0]),
        ({"get": E0, "JSON": E1}, "getJSONValue", [E0, E1, "Value"]),
        ({"86": E0}, "x86_64", ["x", E0, "_", "64"]),
        ({"a": E0}, "a__b_", [E0, "_", "_", "b", "_"]),
        ({}, "__", ["__"]),  # an identifier without parts stays whole
        # Only identifiers are split; others are replaced only when mapped whole.
        ({"foo": E0}, "foo-bar", ["foo-bar"]),
        ({"foo-bar": E0}, "foo-bar", [E0]),
        ({"get": E0}, "naïve_get", ["naïve_get"]),
        ({"日本語": E0}, "日本語", [E0]),
        # The whole-token lookup applies to every kind of token.
        ({"->": E0, ",": E1}, "a->b, c", ["a", E0, "b", E1, " ", "c"]),
        ({"\U0001f44d\U0001f3fb": E0}, "ok \U0001f44d\U0001f3fb!", ["ok", " ", E0, "!"]),
        ({"2": E0}, "3.2", ["3", ".", E0]),
        # Gaps are copied as they are, including characters that no token takes.
        ({}, "a  b", ["a", "  ", "b"]),
        ({"get": E0}, " \tget\u0301\n", [" \t", E0, "\u0301\n"]),
        ({"get": E0}, "\u00a0get\u00a0", ["\u00a0", E0, "\u00a0"]),
        ({}, "", []),
        ({}, " \n ", [" \n "]),
        # A private-use character of the text is a token of its own.
        ({E3: E0}, E3 + E3, [E0, E0]),
    ],
)
def test_pretokenize_examples(w2p, text, pieces):
    pm = prepared(w2p)
    assert _accel.vona_split_text(text, pm) == pieces
    assert _accel.pretokenize_to_string(text, pm) == "".join(pieces)
    assert oracle.pieces(text, w2p) == pieces


@pytest.mark.parametrize(
    "p2w, text, expected",
    [
        ({E0: "get"}, E0 + "Value " + E0, "getValue get"),
        ({E0: "get"}, E1 + E0, E1 + "get"),  # an unmapped private-use character stays
        ({"x": "never", E0: "y"}, "x" + E0, "xy"),  # only private-use characters are looked up
        ({}, "x" + E0, "x" + E0),
        ({E0: "get"}, "no private use here", "no private use here"),
        ({"\U000f0000": "a", "\U0010fffd": "b", "\uf8ff": "c"}, "\U000f0000\U0010fffd\uf8ff", "abc"),
        ({"\U000ffffe": "no", "\uf900": "no"}, "\U000ffffe\uf900", "\U000ffffe\uf900"),
        ({E0: ""}, "a" + E0 + "b", "ab"),
        ({E0: "x"}, "é日\U0001f44d" + E0 + "ü", "é日\U0001f44dxü"),
    ],
)
def test_reverse_examples(p2w, text, expected):
    pm = PM({}, p2w)
    assert _accel.reverse_pua_substitute(text, pm) == expected
    assert _accel.reverse_pua_batch([text], pm) == [expected]


@pytest.mark.parametrize(
    "s, expected",
    [
        ("\ue000", True),
        ("\uf8ff", True),
        ("\U000f0000", True),
        ("\U000ffffd", True),
        ("\U00100000", True),
        ("\U0010fffd", True),
        ("\ud7ff", False),
        ("\uf900", False),
        ("\U000effff", False),
        ("\U000ffffe", False),
        ("\U000fffff", False),
        ("\U0010fffe", False),
        ("\U0010ffff", False),
        ("", False),
        ("a", False),
        ("\ue000\ue000", False),
        ("\ue000a", False),
    ],
)
def test_is_pua_char(s, expected):
    assert _accel.is_pua_char(s) is expected


# Text drawn from fragments that exercise every branch: identifiers and their
# parts, underscores, hyphenated words, operators, emoji, private-use
# characters, non-ASCII words, skipped marks and white space.
WORDS = ["get", "Value", "value", "init", "foo", "bar", "XML", "Parser", "x", "86", "64", "HTTP", "s"]
FRAGMENTS = WORDS + [
    "_", "__", "-", "->", "::", ".", "...", ",", "'", "2", "é", "日本", "naïve",
    " ", "  ", "\t", "\n", "\u00a0", "\u0301", "\u200d",
    "\U0001f44d", "\U0001f3fb", "\u2764\ufe0f", "\U0001f525",
]
PUA_FRAGMENTS = ["\ue000", "\ue001", "\U000f0000", "\U0010fffd"]
MAPPABLE = WORDS + ["foo-bar", "->", "_", "__init__", "getValue", "日本", "\U0001f44d", "é", "\ue000", ""]


def texts(with_pua=True):
    frags = FRAGMENTS + (PUA_FRAGMENTS if with_pua else [])
    return st.lists(st.sampled_from(frags), max_size=30).map("".join)


@st.composite
def word_maps(draw):
    """A word_to_pua with distinct characters from U+E100 on, and its inverse."""
    words = draw(st.lists(st.sampled_from(MAPPABLE), unique=True, max_size=12))
    w2p = {w: chr(0xE100 + i) for i, w in enumerate(words)}
    return w2p, {c: w for w, c in w2p.items()}


@settings(max_examples=300, deadline=None)
@given(text=texts(), maps=word_maps())
def test_pieces_match_reference_and_join_to_pretokenized(text, maps):
    w2p, _ = maps
    pm = prepared(w2p)
    pieces = _accel.vona_split_text(text, pm)
    assert pieces == oracle.pieces(text, w2p)
    assert all(pieces)
    assert "".join(pieces) == _accel.pretokenize_to_string(text, pm)


@settings(max_examples=300, deadline=None)
@given(text=texts(with_pua=False), maps=word_maps())
def test_reverse_undoes_pretokenize(text, maps):
    pm = prepared(*maps)
    assert _accel.reverse_pua_substitute(_accel.pretokenize_to_string(text, pm), pm) == text


@settings(max_examples=300, deadline=None)
@given(
    text=st.text(st.sampled_from("ab é日\U0001f44d\ue000\ue001\uf8ff\uf900\U000f0000\U000ffffe\U0010fffd"), max_size=40),
    p2w=st.dictionaries(st.sampled_from("a\ue000\uf8ff\uf900\U000f0000\U000ffffe\U0010fffd"), st.sampled_from(["", "w", "日本"])),
)
def test_reverse_matches_reference(text, p2w):
    assert _accel.reverse_pua_substitute(text, PM({}, p2w)) == oracle.reverse(text, p2w)


@pytest.mark.parametrize("n", [0, 1, 2, 7, 200])
def test_batch_equals_single(n):
    w2p = {"get": E0, "Value": E1, "->": E2}
    pm = PM(w2p, {c: w for w, c in w2p.items()})
    items = [f"getValue{i} -> get_{i}\n" * (i % 5) + E3 for i in range(n)]
    pre = _accel.pretokenize_batch(items, pm)
    assert pre == [_accel.pretokenize_to_string(t, pm) for t in items]
    back = _accel.reverse_pua_batch(pre, pm)
    assert back == [_accel.reverse_pua_substitute(t, pm) for t in pre]
    assert back == items


def test_concurrent_batches_from_threads():
    w2p = {"get": E0, "Value": E1}
    pm = PM(w2p, {c: w for w, c in w2p.items()})
    jobs = [[f"getValue {k} {i} get_x" for i in range(300)] for k in range(4)]
    expected = [[_accel.pretokenize_to_string(t, pm) for t in job] for job in jobs]
    with ThreadPoolExecutor(max_workers=4) as ex:
        pre = list(ex.map(lambda job: _accel.pretokenize_batch(job, pm), jobs * 3))
        back = list(ex.map(lambda p: _accel.reverse_pua_batch(p, pm), pre))
    assert pre == expected * 3
    assert back == jobs * 3


class Text(str):
    pass


def test_batch_accepts_tuple_and_str_subclass():
    pm = prepared({"get": E0})
    assert _accel.pretokenize_batch(("get", Text("get x")), pm) == [E0, E0 + " x"]
    assert _accel.reverse_pua_batch((E0,), PM({}, {E0: "get"})) == ["get"]


@pytest.mark.parametrize("fn", [_accel.pretokenize_batch, _accel.reverse_pua_batch])
@pytest.mark.parametrize(
    "texts, message",
    [
        ("abc", None),
        ((t for t in ["a"]), "argument 'texts': 'generator' object cannot be converted to 'Sequence'"),
        (["a", 1], "argument 'texts': 'int' object cannot be converted to 'PyString'"),
        ([b"a"], "argument 'texts': 'bytes' object cannot be converted to 'PyString'"),
        (None, "argument 'texts': 'NoneType' object cannot be converted to 'Sequence'"),
    ],
)
def test_batch_refusals(fn, texts, message):
    with pytest.raises(TypeError) as info:
        fn(texts, PM({}, {}))
    if message is None:
        assert str(info.value).startswith("argument 'texts': ")
    else:
        assert str(info.value) == message


@pytest.mark.parametrize(
    "fn", [_accel.vona_split_text, _accel.pretokenize_to_string, _accel.reverse_pua_substitute]
)
def test_single_refusals(fn):
    pm = PM({}, {})
    with pytest.raises(TypeError) as info:
        fn(b"text", pm)
    assert str(info.value) == "argument 'text': 'bytes' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as info:
        fn("text", None)
    assert str(info.value) == "argument 'prepared': 'NoneType' object cannot be converted to 'PreparedMapping'"
    # The text is converted first.
    with pytest.raises(TypeError, match="argument 'text'"):
        fn(1, None)
    with pytest.raises(UnicodeEncodeError):
        fn("a\ud800", pm)
    assert fn(prepared=pm, text="") in ("", [])
    with pytest.raises(TypeError) as info:
        fn("text")
    assert str(info.value) == f"{fn.__name__}() missing 1 required positional argument: 'prepared'"


def test_is_pua_char_refusals():
    with pytest.raises(TypeError) as info:
        _accel.is_pua_char(0xE000)
    assert str(info.value) == "argument 's': 'int' object cannot be converted to 'PyString'"
    with pytest.raises(UnicodeEncodeError):
        _accel.is_pua_char("\ud800")

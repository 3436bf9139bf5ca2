"""count_in_text: token counts, identifier-part boosts, the length limit in
characters, and argument conversion."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import text_oracle as oracle
from vona_tokenizer import _accel

BIG = 1 << 40


@pytest.mark.parametrize(
    "text, weight, limit, counts, boosts",
    [
        ("", 1.0, 100, {}, {}),
        ("a b getValue", 1.0, 0, {}, {}),
        ("a bb ccc", 1.0, 2, {"a": 1, "bb": 1}, {}),
        # Length counts characters, not bytes.
        ("日本語", 1.0, 3, {"日本語": 1}, {}),
        ("日本語", 1.0, 2, {}, {}),
        ("\U0001f44d\U0001f525", 1.0, 2, {"\U0001f44d\U0001f525": 1}, {}),
        ("\U0001f44d\U0001f525", 1.0, 1, {}, {}),
        (
            "getValue getValue foo_bar foo",
            0.5,
            BIG,
            {"getValue": 2, "foo_bar": 1, "foo": 1},
            {"get": 1.0, "Value": 1.0, "foo": 0.5, "bar": 0.5},
        ),
        ("foo_foo", 1.0, BIG, {"foo_foo": 1}, {"foo": 2.0}),
        # Single-part tokens, underscores only and non-identifiers give no boost.
        ("FOO _ __ x foo-bar 3 -> naïve_x", 1.0, BIG,
         {"FOO": 1, "_": 1, "__": 1, "x": 1, "foo-bar": 1, "3": 1, "->": 1, "naïve_x": 1}, {}),
        # A part equal to the token is skipped, even when it is the only one after underscores.
        ("_foo __init__", 2.0, BIG, {"_foo": 1, "__init__": 1}, {"foo": 2.0, "init": 2.0}),
        ("getJSONValue x86_64", 1.0, BIG, {"getJSONValue": 1, "x86_64": 1},
         {"get": 1.0, "JSON": 1.0, "Value": 1.0, "x": 1.0, "86": 1.0, "64": 1.0}),
        # An identifier longer than the limit is neither counted nor boosted.
        ("getValue ab", 1.0, 7, {"ab": 1}, {}),
        ("getValue", 1.0, 8, {"getValue": 1}, {"get": 1.0, "Value": 1.0}),
    ],
)
def test_examples(text, weight, limit, counts, boosts):
    c, b = _accel.count_in_text(text, weight, limit)
    assert c == counts
    assert b == boosts
    assert all(type(v) is int for v in c.values())
    assert all(type(v) is float for v in b.values())


@pytest.mark.parametrize("weight", [0, 0.0, -1, -0.5, math.nan, -math.inf])
def test_non_positive_weight_turns_boosts_off(weight):
    c, b = _accel.count_in_text("getValue getValue foo_bar foo", weight, 100)
    assert c == {"getValue": 2, "foo_bar": 1, "foo": 1}
    assert b == {}


class Half:
    def __float__(self):
        return 0.5


class Two:
    def __index__(self):
        return 2


@pytest.mark.parametrize(
    "weight, limit",
    [(1, 2), (True, True), (Half(), Two()), (0.25, 2**64 - 1)],
)
def test_accepted_argument_kinds(weight, limit):
    text = "ab_cd abc"
    assert _accel.count_in_text(text, weight, limit) == oracle.count(text, float(weight), int(limit))


class MyTypeError(TypeError):
    pass


class BadFloat:
    def __float__(self):
        raise MyTypeError("own message")


class BadFloatPlain:
    def __float__(self):
        raise TypeError("plain message")


@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((b"x", 1.0, 1), TypeError, "argument 'text': 'bytes' object cannot be converted to 'PyString'"),
        (("x", "1.0", 1), TypeError, "argument 'boost_weight': must be real number, not str"),
        (("x", BadFloatPlain(), 1), TypeError, "argument 'boost_weight': plain message"),
        (("x", BadFloat(), 1), MyTypeError, "own message"),  # a subclass keeps its own text
        (("x", 1.0, 1.5), TypeError, "argument 'max_token_len': "),
        (("x", 1.0, "3"), TypeError, "argument 'max_token_len': "),
        (("x", 1.0, -1), OverflowError, None),
        (("x", 1.0, 2**64), OverflowError, None),
        # Arguments are converted in order: the first bad one is reported.
        ((1, "w", -1), TypeError, "argument 'text': "),
        (("x", "w", -1), TypeError, "argument 'boost_weight': "),
        (("\ud800", 1.0, 1), UnicodeEncodeError, None),
    ],
)
def test_argument_errors(args, exc, message):
    with pytest.raises(exc) as info:
        _accel.count_in_text(*args)
    assert type(info.value) is exc
    text = str(info.value)
    if exc is OverflowError:
        assert not text.startswith("argument")
    elif message is not None:
        assert text.startswith(message)
        if exc is TypeError and message.endswith("'PyString'"):
            assert text == message


def test_missing_arguments():
    with pytest.raises(TypeError) as info:
        _accel.count_in_text()
    assert str(info.value) == (
        "count_in_text() missing 3 required positional arguments: 'text', 'boost_weight', and 'max_token_len'"
    )
    assert _accel.count_in_text(max_token_len=5, text="a a", boost_weight=1.0) == ({"a": 2}, {})


# Text from fragments that mix identifiers of every shape with operators,
# hyphenated and non-ASCII words, emoji and white space.
FRAGMENTS = [
    "get", "Value", "XML", "Parser", "foo", "x", "86", "_", "__", "-", "->", ".", "é", "日本",
    "\U0001f44d", "\U0001f3fb", " ", "\n", "\t",
]


@settings(max_examples=300, deadline=None)
@given(
    text=st.lists(st.sampled_from(FRAGMENTS), max_size=40).map("".join),
    weight=st.sampled_from([0.1, 0.5, 1.0, 0.0, -1.0, math.nan, 1e-300]),
    limit=st.integers(0, 12),
)
def test_matches_reference(text, weight, limit):
    # Boosts are summed in text order, so even inexact weights agree to the bit.
    assert _accel.count_in_text(text, weight, limit) == oracle.count(text, weight, limit)

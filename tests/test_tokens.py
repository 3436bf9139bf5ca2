"""The token pattern: iter_token_strings against hand-checked cases and
against Python's `regex` running the same pattern."""

import os
import sysconfig
from pathlib import Path

import pytest
import regex
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from vona_tokenizer import _accel

DATA = Path(__file__).parent / "data"

# The pattern in `regex` syntax. `regex` has its own idea of \s and \w, so
# both are spelled out: \s is White_Space, \w the UTS #18 word class.
_STARTER = r"[\p{Emoji_Presentation}\p{Extended_Pictographic}]"
_WORD_CLASS = r"\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\p{Join_Control}"
ORACLE = regex.compile(
    rf"(?:{_STARTER}(?:\u200D{_STARTER})*[\uFE0F\u20E3\p{{Emoji_Modifier}}]*)+"
    r"|[\p{L}\p{N}_](?:[\p{L}\p{N}_\-]*[\p{L}\p{N}_])?"
    r"|(?:!=|==|<=|>=|<<|>>|\+=|-=|\*=|/=|%=|&&|\|\||->|=>|::|:=|\.\.\.|\.\.)"
    rf"|[^\p{{White_Space}}{_WORD_CLASS}]"
)

ZWJ, VS16, KEYCAP = "\u200d", "\ufe0f", "\u20e3"
THUMBS, TONE, FIRE, HEART = "\U0001f44d", "\U0001f3fb", "\U0001f525", "\u2764"


def test_oracle_is_unicode_16():
    # U+1FAE9 (a Unicode 16.0 emoji) must be a starter for the oracle to judge us.
    assert ORACLE.findall("\U0001fae9") == ["\U0001fae9"]


CASES = [
    ("", []),
    (" \t\n\r\n  ", []),
    ("foo_bar-baz qux", ["foo_bar-baz", "qux"]),
    ("a->b", ["a", "->", "b"]),
    ("x--y", ["x--y"]),
    ("x-", ["x", "-"]),
    ("-x", ["-", "x"]),
    ("--", ["-", "-"]),
    ("a-b-", ["a-b", "-"]),
    ("a::b", ["a", "::", "b"]),
    ("....", ["...", "."]),
    ("<<=", ["<<", "="]),
    ("===", ["==", "="]),
    ("!==", ["!=", "="]),
    ("**", ["*", "*"]),
    ("x+=1; y>>=2", ["x", "+=", "1", ";", "y", ">>", "=", "2"]),
    ("a&&b||c=>d:=e", ["a", "&&", "b", "||", "c", "=>", "d", ":=", "e"]),
    ("3.14", ["3", ".", "14"]),
    ("rc1.2", ["rc1", ".", "2"]),
    ("x\u00b2", ["x\u00b2"]),
    ("\u00b2x", ["\u00b2x"]),
    ("don't", ["don", "'", "t"]),
    ("日本語", ["日本語"]),
    ("e\u0301", ["e"]),
    ("e\u0301t", ["e", "t"]),
    ("\u24b6", []),
    ("\u24c2", ["\u24c2"]),
    ("a\u203fb", ["a", "b"]),
    ("a\u200cb", ["a", "b"]),
    ("a\u200db", ["a", "b"]),
    ("\u00ad\x1c\x00", ["\u00ad", "\x1c", "\x00"]),
    ("\u0378", ["\u0378"]),  # unassigned
    (THUMBS + TONE, [THUMBS + TONE]),
    (THUMBS + TONE + ZWJ + FIRE, [THUMBS + TONE, FIRE]),
    (THUMBS + FIRE, [THUMBS + FIRE]),
    ("a" + THUMBS, ["a", THUMBS]),
    (THUMBS + "a", [THUMBS, "a"]),
    (HEART + VS16 + ZWJ + FIRE, [HEART + VS16, FIRE]),
    (HEART + ZWJ + FIRE + VS16, [HEART + ZWJ + FIRE + VS16]),
    ("1" + VS16 + KEYCAP, ["1"]),
    ("\U0001f1e9\U0001f1ea\U0001f1eb\U0001f1f7", ["\U0001f1e9\U0001f1ea\U0001f1eb\U0001f1f7"]),
    ("\u00a9\u00ae", ["\u00a9\u00ae"]),
    ("\u2139x", ["\u2139", "x"]),
    ("x\u2139", ["x\u2139"]),
    (TONE + TONE, [TONE + TONE]),
    (ZWJ + FIRE, [FIRE]),
    (FIRE + ZWJ, [FIRE]),
    (FIRE + ZWJ + ZWJ + FIRE, [FIRE, FIRE]),
    ("\ue000\ue001", ["\ue000", "\ue001"]),
    ("a\U000f0000b", ["a", "\U000f0000", "b"]),
]


@pytest.mark.parametrize("text, expected", CASES)
def test_examples(text, expected):
    assert _accel.iter_token_strings(text) == expected
    assert ORACLE.findall(text) == expected  # the table itself is checked against the oracle


def test_tokens_are_the_input_less_skipped_characters():
    text = "  e\u0301t\u24b6 x--y-  \u200d" + FIRE + " \u203f ok"
    tokens = _accel.iter_token_strings(text)
    assert "".join(tokens) == "etx--y-" + FIRE + "ok"


def test_str_subclass_is_accepted():
    class Text(str):
        pass

    assert _accel.iter_token_strings(Text("a b")) == ["a", "b"]


# Characters of every class the pattern tells apart, and the ones at the edges
# of those classes.
ALPHABET = (
    list("aZ09_-") + ["x", "Y"]
    + list("!=<>+-*/%&|:.;'\"#@$^~`?,()[]{}\\")
    + [" ", "\t", "\n", "\r", "\x0b", "\x0c", "\x1c", "\x1f", "\x00", "\x7f"]
    + ["\u00a0", "\u2003", "\u3000", "\u2028", "\u0085", "\u1680"]  # white space
    + ["é", "ß", "Ω", "ж", "日", "ア", "ㄱ", "\u0905", "\u0e01", "\u01c5", "\u02b0"]  # letters
    + ["\u00b2", "\u00bd", "\u2167", "\u0663", "\uff11", "\U0001d7ce"]  # numbers
    + ["\u0301", "\u0303", "\u093f", "\u0e31", "\u20dd"]  # marks
    + ["\u203f", "\u2040", "\ufe4f", "\u200c", ZWJ, VS16, KEYCAP, "\ufe0e"]
    + ["\u24b6", "\u24c2", "\u2139", "\u00a9", "\u00ae", "\u2122", "\u203c", "\u3030"]
    + [THUMBS, TONE, "\U0001f3ff", FIRE, HEART, "\U0001f600", "\U0001f468", "\U0001f469", "\U0001fae9"]
    + ["\U0001f1e9", "\U0001f1ea", "\u231a", "\u2600", "\U0001f004"]  # regional indicators, older emoji
    + ["\u00ad", "\u200b", "\u2060", "\ufeff", "\u0378", "\U0010fffd", "\ue000", "\U000f0000"]
    + ["\u2260", "\u221a", "\u2026", "\u20ac", "\u00b7"]
)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.text(alphabet=st.sampled_from(ALPHABET), max_size=40))
def test_matches_oracle_on_generated_text(text):
    assert _accel.iter_token_strings(text) == ORACLE.findall(text)


@pytest.mark.parametrize("prefix", ["", "x", "\U0001f600", "\U0001f600\u200d", "x-"])
def test_every_code_point_matches_oracle(prefix):
    # Every scalar value once, after a context that decides what it may
    # continue, and followed by a space that ends the token: this checks the
    # class of every code point the scanner looks up.
    chars = (chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)
    text = " ".join(prefix + ch for ch in chars)
    assert _accel.iter_token_strings(text) == ORACLE.findall(text)


def _stdlib_files():
    root = Path(sysconfig.get_paths()["stdlib"])
    names = ["argparse.py", "difflib.py", "textwrap.py", "email/_header_value_parser.py", "unittest/mock.py"]
    return [root / n for n in names if (root / n).exists()]


@pytest.mark.parametrize("path", _stdlib_files() + [DATA / "prose_multiscript.txt"], ids=os.path.basename)
def test_matches_oracle_on_real_text(path):
    text = path.read_text(encoding="utf-8")
    assert _accel.iter_token_strings(text) == ORACLE.findall(text)


def test_concurrent_calls_agree():
    # The scan runs without the interpreter lock; threads must not share state.
    from concurrent.futures import ThreadPoolExecutor

    texts = [(DATA / "prose_multiscript.txt").read_text(encoding="utf-8") * (i + 1) for i in range(8)]
    expected = [ORACLE.findall(t) for t in texts]
    with ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(5):
            assert list(pool.map(_accel.iter_token_strings, texts)) == expected

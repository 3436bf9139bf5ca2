"""The byte-level alphabet and the GPT-2 pre-tokenization, seen through encode.

Pre-tokens are made visible with a vocabulary built for the expected split:
every prefix of every expected pre-token is a token, so each pre-token merges
into exactly one id, and a "bridge" token across every boundary between two
pre-tokens (with the lowest ids) makes a piece that wrongly spans a boundary
come out different. Decoding each id alone then gives the pre-tokens back.
"""

import json
import sysconfig
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from bpe_judge import byte_level, pretokens
from byte_alphabet import BYTE_TO_CHAR
from vona_tokenizer._accel import BPEEncoder

DATA = Path(__file__).parent / "data"


def write(tmp_path, vocab, name="v"):
    doc = {"added_tokens": [], "model": {"type": "BPE", "vocab": vocab, "merges": []}}
    tok, mp = tmp_path / f"{name}_tok.json", tmp_path / f"{name}_map.json"
    tok.write_text(json.dumps(doc), encoding="utf-8")
    mp.write_text('{"word_to_codepoint": {}}', encoding="utf-8")
    return BPEEncoder(str(tok), str(mp))


def split_vocab(splits):
    """The vocabulary that makes the given pre-token lists observable."""
    vocab = {BYTE_TO_CHAR[b]: b for b in range(256)}
    next_id = 256

    def add(s):
        nonlocal next_id
        if s not in vocab:
            vocab[s] = next_id
            next_id += 1

    for pieces in splits:
        for left, right in zip(pieces, pieces[1:]):
            add(byte_level(left[-1].encode())[-1] + byte_level(right[0].encode())[0])
    for pieces in splits:
        for p in pieces:
            bl = byte_level(p.encode())
            for k in range(2, len(bl) + 1):
                add(bl[:k])
    return vocab


def observed_splits(tmp_path, texts, expected):
    enc = write(tmp_path, split_vocab(expected))
    return [[enc.decode([i]) for i in ids] for ids in enc.encode_batch(texts)]


SPLITS = [
    ("Hello world", ["Hello", " world"]),
    ("Hello  world", ["Hello", " ", " world"]),
    ("a\n\nb", ["a", "\n", "\n", "b"]),
    ("x   ", ["x", "   "]),
    ("   x", ["  ", " x"]),
    ("a \n b", ["a", " \n", " b"]),
    ("it's", ["it", "'s"]),
    ("IT'S", ["IT", "'", "S"]),
    ("we're they've I'm you'll he'd 'tis", ["we", "'re", " they", "'ve", " I", "'m", " you", "'ll", " he", "'d", " '", "tis"]),
    ("'rex ''s don't!", ["'re", "x", " ''", "s", " don", "'t", "!"]),
    ("'", ["'"]),
    ("123abc", ["123", "abc"]),
    (" 42", [" 42"]),
    (" !!", [" !!"]),
    ("a!b", ["a", "!", "b"]),
    ("", []),
    (" ", [" "]),
    ("\n", ["\n"]),
    ("   ", ["   "]),
    ("#\ue000", ["#\ue000"]),  # private use: neither space, letter nor number
    (" \ue000x", [" \ue000", "x"]),
    ("a\tb", ["a", "\t", "b"]),
    ("naïve", ["naïve"]),
    (" ٣٤", [" ٣٤"]),
    ("x2½ Ⅻ", ["x", "2½", " Ⅻ"]),  # No and Nl are numbers
    (" 中文。", [" 中文", "。"]),
    ("e\u0301", ["e", "\u0301"]),  # a combining mark is not a letter
    ("x \u00a0y", ["x", " ", "\u00a0", "y"]),  # only U+0020 joins the word after it
    ("a\u3000\u3000b", ["a", "\u3000", "\u3000", "b"]),
    ("a\u2028\u0085", ["a", "\u2028\u0085"]),
    ("a\x1cb", ["a", "\x1c", "b"]),  # U+001C is not White_Space
    ("a\u200b b\u180e", ["a", "\u200b", " b", "\u180e"]),  # nor are ZWSP and U+180E
    ("👍🏻 ok", ["👍🏻", " ok"]),
]


@pytest.mark.parametrize("text, expected", SPLITS)
def test_split_examples(tmp_path, text, expected):
    assert pretokens(text) == expected  # the reference agrees with the table
    assert observed_splits(tmp_path, [text], [expected]) == [expected]


# Characters of every class the pattern tells apart, ASCII and not.
ALPHABET = (
    "abcSTZ"  # letters
    "srtvelmd'"  # what the contractions are made of
    "0179"  # digits
    " \t\n\r\x0b\x0c"  # ASCII white space
    "!.-_#\x1c\x00\x7f"  # other ASCII
    "éßΩжא中ひ"  # letters
    "٣४½Ⅻ"  # numbers
    "\u00a0\u2028\u3000\u0085\u1680\u2009"  # white space
    "\u0301\u200b\u200d\u180e\ufeff\ue000\U000f0000😀🏻€"  # others
)


@settings(max_examples=60, deadline=None)
@given(st.lists(st.text(alphabet=ALPHABET, max_size=40), min_size=1, max_size=20))
def test_split_matches_regex(tmp_path_factory, texts):
    expected = [pretokens(t) for t in texts]
    assert observed_splits(tmp_path_factory.mktemp("s"), texts, expected) == expected


def test_split_matches_regex_on_real_text(tmp_path):
    root = Path(sysconfig.get_paths()["stdlib"])
    texts = [(root / name).read_text(encoding="utf-8") for name in ("textwrap.py", "string.py", "calendar.py")]
    texts.append((DATA / "prose_multiscript.txt").read_text(encoding="utf-8"))
    expected = [pretokens(t) for t in texts]
    assert observed_splits(tmp_path, texts, expected) == expected


# ---- The byte-level alphabet ------------------------------------------------

# Every character U+0000..U+07FF plus three- and four-byte ones: all byte values
# that UTF-8 uses.
ALL_BYTES_TEXT = "".join(map(chr, range(0x800))) + "中€\uffff\U0001f600\U0010fffd"


@pytest.mark.parametrize("offset, extra", [(0, {}), (10, {"zq": 0})])
def test_each_byte_maps_to_its_alphabet_character(tmp_path, offset, extra):
    # offset 0: characters at the ids of their bytes; offset 10 with a
    # two-character token below them: the merging starts from single bytes.
    vocab = {BYTE_TO_CHAR[b]: b + offset for b in range(256)} | extra
    enc = write(tmp_path, vocab)
    data = ALL_BYTES_TEXT.encode("utf-8")
    assert enc.encode(ALL_BYTES_TEXT) == [b + offset for b in data]
    assert enc.decode(enc.encode(ALL_BYTES_TEXT)) == ALL_BYTES_TEXT


@pytest.mark.parametrize(
    "byte, char",
    [(0x20, "\u0120"), (0x41, "A"), (0xFF, "\u00ff"), (0xAD, "\u0143"), (0x7F, "\u0121"), (0x00, "\u0100"),
     (0x0A, "\u010a"), (0x0D, "\u010d"), (0xA0, "\u0142"), (0xA1, "\u00a1"), (0xAC, "\u00ac"), (0xAE, "\u00ae"),
     (0xC3, "\u00c3")],
)
def test_alphabet_values(tmp_path, byte, char):
    # A token made of the character under test and a neighbour decodes to the
    # raw bytes those two characters stand for.
    vocab = {BYTE_TO_CHAR[b]: b for b in range(256)}
    vocab[char + BYTE_TO_CHAR[0xA9]] = 1000  # 0xA9: a continuation byte
    vocab[BYTE_TO_CHAR[0xC3] + char] = 1001
    enc = write(tmp_path, vocab)
    assert enc.decode([1000]) == bytes([byte, 0xA9]).decode("utf-8", "replace")
    assert enc.decode([1001]) == bytes([0xC3, byte]).decode("utf-8", "replace")
    if byte < 0x80:
        assert enc.encode(chr(byte)) == [byte]


def test_decode_passes_other_characters_through(tmp_path):
    vocab = {BYTE_TO_CHAR[b]: b for b in range(256)} | {"\u4e2d": 300, "\ue000x": 301, "Ġhello": 302}
    enc = write(tmp_path, vocab)
    assert enc.decode([300, 301, 302]) == "\u4e2d\ue000x hello"
    # Two alphabet characters that are the UTF-8 bytes of é.
    assert enc.decode([0xC3, 0xA9]) == "é"

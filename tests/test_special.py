"""Added tokens are found leftmost-longest, exactly, anywhere, without overlap.

Seen through encode on a vocabulary of the 256 byte-level characters only
(see byte_alphabet), so ordinary text comes out as its bytes and each added
token as its own id.
"""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from byte_alphabet import ids, write_tokenizer
from vona_tokenizer._accel import BPEEncoder


def encoder(tmp_path, added, **kw):
    return BPEEncoder(*write_tokenizer(tmp_path, added, **kw))


END = [("<|end|>", 256), ("<|endoftext|>", 257)]
AB_BCD = [("ab", 256), ("bcd", 257)]
S = [("<s>", 256, True)]


@pytest.mark.parametrize(
    "added, text, expected",
    [
        (END, "<|endoftext|>", ids(257)),
        (END, "<|end|>oftext|>", ids(256, "oftext|>")),
        (END, "<|end<|endoftext|>|>", ids("<|end", 257, "|>")),
        (AB_BCD, "abcd", ids(256, "cd")),  # the leftmost start wins over the longer one
        (AB_BCD, "xbcdab", ids("x", 257, 256)),
        (AB_BCD + [("cd", 258)], "abcd", ids(256, 258)),  # resumes at the end of the match
        ([("abcde", 256), ("bc", 257)], "abcde", ids(256)),
        ([("abcde", 256), ("bc", 257)], "abcdx", ids("a", 257, "dx")),
        ([("aaa", 256), ("aa", 257)], "aaaaa", ids(256, 257)),
        ([("aaa", 256), ("aa", 257)], "aaaa", ids(256, "a")),
        (S, "<s>", ids(256)),
        (S, "<s><s>", ids(256, 256)),
        (S, " <s> ", ids(" ", 256, " ")),  # no white space absorbed
        (S, "ab<s>cd", ids("ab", 256, "cd")),  # no word boundary needed
        (S, "<S>", ids("<S>")),  # case-sensitive
        (S, "<s", ids("<s")),
        (S, "", []),
        ([("<s>", 256, False)], "a<s>b", ids("a", 256, "b")),  # not special: matched the same
        ([("日本", 256)], "x日本語y", ids("x", 256, "語y")),
        ([("é", 256), ("🙂", 257)], "café🙂!", ids("caf", 256, 257, "!")),
        ([("\n\n", 256), ("<tab>\t", 257)], "a\n\n\n<tab>\tb", ids("a", 256, "\n", 257, "b")),
        ([("", 256), ("<s>", 257)], "a<s>é", ids("a", 257, "é")),  # empty content matches nowhere
        ([("", 256)], "aé", ids("aé")),
        ([("<x>", 256), ("<x>", 257)], "<x>", ids(257)),  # a repeated content: the later id
        ([("b", 300), ("abc", 301), ("bcd", 302)], "abcd", ids(301, "d")),
    ],
)
def test_matches(tmp_path, added, text, expected):
    assert encoder(tmp_path, added).encode(text) == expected


def test_no_added_tokens(tmp_path):
    assert encoder(tmp_path, []).encode("<s> ab") == ids("<s> ab")


def leftmost_longest(patterns, text):
    """Reference: at each position the longest pattern starting there, else one byte."""
    out, i = [], 0
    data = text.encode()
    by_bytes = {p.encode(): tid for p, tid in patterns}
    longest = max(len(p) for p in by_bytes)
    while i < len(data):
        for n in range(min(longest, len(data) - i), 0, -1):
            tid = by_bytes.get(data[i : i + n])
            if tid is not None:
                out.append(tid)
                i += n
                break
        else:
            out.append(data[i])
            i += 1
    return out


ALPHABET = "ab<>é"


def random_patterns(seed, count):
    rng = random.Random(seed)
    found = {}
    while len(found) < count:
        p = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 7)))
        found.setdefault(p, 256 + len(found))
    return list(found.items())


# A few patterns give the dense automaton, more than a hundred the sparse one.
@pytest.mark.parametrize("seed, count", [(1, 3), (2, 12), (3, 40), (4, 130), (5, 400)])
def test_random_patterns_against_reference(tmp_path, seed, count):
    patterns = random_patterns(seed, count)
    rng = random.Random(seed)
    rng.shuffle(patterns)  # the file order must not matter
    enc = encoder(tmp_path, patterns)
    texts = ["".join(rng.choice(ALPHABET + "xy ") for _ in range(rng.randint(0, 80))) for _ in range(200)]
    assert [enc.encode(t) for t in texts] == [leftmost_longest(patterns, t) for t in texts]


@pytest.fixture(scope="module")
def mixed_encoder(tmp_path_factory):
    patterns = random_patterns(7, 25)
    return patterns, encoder(tmp_path_factory.mktemp("special"), patterns)


@settings(max_examples=300, deadline=None)
@given(text=st.text(alphabet=st.sampled_from(ALPHABET + "x\n"), max_size=60))
def test_any_text_against_reference(mixed_encoder, text):
    patterns, enc = mixed_encoder
    assert enc.encode(text) == leftmost_longest(patterns, text)


def test_long_text_with_many_pending_prefixes(tmp_path):
    # A long token whose prefixes keep appearing and a short one inside
    # them: every short match must be found, none of the long one.
    long_tok = "a" * 50 + "b"
    enc = encoder(tmp_path, [(long_tok, 256), ("a", 257)])
    text = "a" * 10_000 + "b" + "a" * 49 + "b"
    assert enc.encode(text) == [257] * 9_950 + [256] + [257] * 49 + ids("b")

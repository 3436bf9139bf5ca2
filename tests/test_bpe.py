"""BPE merging, the encoding pipeline, decoding and the four BPEEncoder methods,
on small hand-made vocabularies, judged by the plain merge loop in bpe_judge."""

import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vona_tokenizer._accel as accel
from bpe_judge import MissingByte, judge_and_files
from byte_alphabet import BYTE_TO_CHAR
from vona_tokenizer._accel import BPEEncoder

ALPHABET = {BYTE_TO_CHAR[b]: b for b in range(256)}


def make(tmp_path, vocab, added=(), word_to_pua=None, name="t"):
    judge, tok, mp = judge_and_files(tmp_path, vocab, added, word_to_pua, name)
    return judge, BPEEncoder(tok, mp)


def outcome(fn, *args):
    """The ids, or the text of the missing-byte failure."""
    try:
        return fn(*args)
    except MissingByte as e:
        return ("failure", str(e))
    except BaseException as e:  # InternalError derives from BaseException only
        if type(e).__name__ != "InternalError":
            raise
        return ("failure", str(e))


# ---- Merging ----------------------------------------------------------------


@pytest.mark.parametrize(
    "vocab, text, expected",
    [
        ({"a": 1, "aa": 10}, "aaaa", [10, 10]),  # equal ranks: the leftmost pair first
        ({"a": 1, "aa": 10, "aaaa": 20}, "aaaa", [20]),
        ({"a": 1, "aa": 10}, "aaa", [10, 1]),
        # No whole-piece shortcut: abcd is a token but no merge path reaches it.
        ({"a": 0, "b": 1, "c": 2, "d": 3, "bc": 4, "abcd": 5}, "abcd", [0, 4, 3]),
        ({"a": 0, "b": 1, "c": 2, "ab": 3, "bc": 4}, "abc", [3, 2]),  # the lower id merges first
        ({"a": 0, "b": 1, "c": 2, "ab": 4, "bc": 3}, "abc", [0, 3]),
        # Any two neighbours whose concatenation is a token merge, also
        # when the left one is a raw byte without a token of its own.
        ({"b": 1, "ab": 5}, "ab", [5]),
        ({"a": 0, "b": 1, "c": 2, "ab": 7, "abc": 3}, "abc", [3]),
        ({"a": 0, "b": 1, "c": 2, "bc": 7, "abc": 3}, "abc", [3]),
        # A two-byte character starts as two bytes: é (C3 A9) is "Ã©" after
        # byte-level mapping, its own 4 bytes C3 83 C2 A9.
        (ALPHABET | {"Ã©": 300, "Ã©Ã©": 301}, "éé", [301]),
        (ALPHABET | {"Ġa": 300}, " a a", [300, 300]),
        # Characters with ids above a merge: the merge of single bytes does
        # not wait for whole characters.
        ({c: i + 10 for c, i in ALPHABET.items()} | {"xy": 0, "Ġx": 1}, " xy", [32 + 10, 0]),
        # Here whole characters first would give Ġx, y.
        ({c: i + 10 for c, i in ALPHABET.items()} | {"xy": 5, "Ġx": 1}, " xy", [32 + 10, 5]),
        # No token of two symbols at all: the pair table is empty.
        ({"a": 0, "b": 1}, "ab", [0, 1]),
    ],
)
def test_merge_cases(tmp_path, vocab, text, expected):
    judge, enc = make(tmp_path, vocab)
    assert judge.encode(text) == expected
    assert enc.encode(text) == expected


def test_merge_priority_is_the_id_not_the_merges_list(tmp_path):
    import json

    vocab = {"a": 0, "b": 1, "c": 2, "ab": 3, "bc": 4}
    encs = []
    for k, merges in enumerate([[["b", "c"], ["a", "b"]], [], [["x", "y"]]]):
        tok, mp = tmp_path / f"{k}.json", tmp_path / f"{k}m.json"
        tok.write_text(json.dumps({"added_tokens": [], "model": {"type": "BPE", "vocab": vocab, "merges": merges}}))
        mp.write_text('{"word_to_codepoint": {}}')
        encs.append(BPEEncoder(str(tok), str(mp)))
    assert [e.encode("abc") for e in encs] == [[3, 2]] * 3


@pytest.mark.parametrize(
    "vocab, texts, message",
    [
        (ALPHABET.keys() - {"!"}, ["!", "a!", "!a"], "single byte 0x21 missing from vocab"),
        (ALPHABET.keys() - {"a"}, ["a"], "single byte 0x61 missing from vocab"),
        (ALPHABET.keys() - {"!"}, ["!!"], "byte in alphabet"),  # two bytes: merged or not, then emitted
        (ALPHABET.keys() - {"Ġ"}, [" ", "x  "], "byte in alphabet"),  # a two-byte character
        (ALPHABET.keys() - {"©"}, ["é"], "byte in alphabet"),
    ],
)
def test_missing_alphabet_character_is_an_internal_error(tmp_path, vocab, texts, message):
    judge, enc = make(tmp_path, {c: i for i, c in enumerate(sorted(vocab))})
    InternalError = None
    for text in texts:
        assert outcome(judge.encode, text) == ("failure", message)
        with pytest.raises(BaseException) as info:
            enc.encode(text)
        InternalError = type(info.value)
        assert InternalError.__name__ == "InternalError" and str(info.value) == message
        assert not issubclass(InternalError, Exception)
        with pytest.raises(InternalError, match=message):  # the whole batch ends
            enc.encode_batch(["fine", text, "fine"])
    assert not hasattr(accel, "InternalError")
    assert enc.encode("bc") == judge.encode("bc")  # the instance stays usable


# Random vocabularies over a few characters, with ids that sometimes put
# multi-character tokens below the alphabet characters, and sometimes lack an
# alphabet character; long pieces exercise the heap form of the loop.
SMALL_CHARS = ["a", "b", "Ġ", "Ã", "©", "Ċ"]  # a, b, blank, and é as two characters, line feed
TEXT_CHARS = "ab é\n"


@st.composite
def random_vocab(draw):
    layout = draw(st.sampled_from(["chars_first", "merges_first", "mixed", "missing"]))
    size = st.integers(2, 5).flatmap(lambda n: st.just(2) if n == 5 else st.just(n))  # mostly pairs
    token = size.flatmap(lambda n: st.lists(st.sampled_from(SMALL_CHARS), min_size=n, max_size=n).map("".join))
    multi = draw(st.lists(token, min_size=1, max_size=40, unique=True))
    base = dict(ALPHABET)
    if layout == "missing":
        del base[draw(st.sampled_from(SMALL_CHARS))]
    tokens = list(base) + [m for m in multi if m not in base]
    if layout == "chars_first":
        ids = list(range(len(base))) + draw(st.permutations(range(len(base), len(tokens))))
    elif layout == "merges_first":
        n_multi = len(tokens) - len(base)
        ids = [i + n_multi for i in range(len(base))] + draw(st.permutations(range(n_multi)))
    else:
        ids = draw(st.permutations(range(len(tokens))))
    if draw(st.booleans()):  # a few shared ids
        ids = [i // 2 if i % 7 == 0 else i for i in ids]
    return dict(zip(tokens, ids))


@settings(max_examples=400, deadline=None)
@given(random_vocab(), st.lists(st.text(alphabet=TEXT_CHARS, min_size=8, max_size=40), min_size=1, max_size=8),
       st.text(alphabet=TEXT_CHARS, min_size=65, max_size=300))
def test_merge_matches_the_plain_loop(tmp_path_factory, vocab, texts, long_text):
    judge, enc = make(tmp_path_factory.mktemp("m"), vocab)
    for text in texts + [long_text, long_text.replace(" ", "").replace("\n", "")]:
        assert outcome(enc.encode, text) == outcome(judge.encode, text)


def powers_of_two(char, top, chars_first):
    """Tokens char * 2**j (1 <= j <= top), and the ids the loop gives a run of n
    chars: the largest token as often as it fits, then the binary digits of the
    rest, high to low. chars_first: alphabet characters below the merges."""
    first = 255 if chars_first else 0
    char_id = (lambda b: b) if chars_first else (lambda b: 100 + b)
    vocab = {c: char_id(b) for c, b in ALPHABET.items()} | {char * 2**j: first + j for j in range(1, top + 1)}
    one = char_id(ALPHABET[char])

    def expected(n):
        rest = [first + j if j else one for j in reversed(range(top)) if n >> j & 1]
        return [first + top] * (n >> top) + rest

    return vocab, expected


POWER_CASES = [(c, t, f) for c, t in [("a", "a"), ("Ġ", " ")] for f in (True, False)]


@pytest.mark.parametrize("char, text_char, chars_first", POWER_CASES)
def test_powers_of_two_formula(tmp_path, char, text_char, chars_first):
    vocab, expected = powers_of_two(char, 3, chars_first)
    judge, enc = make(tmp_path, vocab)
    for n in [1, 2, 3, 5, 7, 8, 13, 64, 65, 100, 257]:
        assert judge.encode(text_char * n) == expected(n) == enc.encode(text_char * n)


@pytest.mark.parametrize("char, text_char, chars_first", POWER_CASES)
def test_million_byte_piece(tmp_path, char, text_char, chars_first):
    vocab, expected = powers_of_two(char, 10, chars_first)
    _, enc = make(tmp_path, vocab)
    n = 1_000_000
    ids = enc.encode(text_char * n)
    assert ids == expected(n)
    assert enc.decode(ids) == text_char * n


# ---- The pipeline -------------------------------------------------------------

S = [("<s>", 900, True), ("<|x|>", 901, False)]


@pytest.mark.parametrize(
    "text",
    [
        "",
        "<s>",
        "<s><s>",
        "<s><|x|>",
        "a  <s>",  # white space before an added token ends its chunk
        "a  b",
        "a \n<s>\n b",
        "x<s>y",
        "<|x|>é<s>",
        "<foo> foo",  # foo is mapped: substitution first, so <foo> is no added token any more
        "fooBar __foo__ <s>foo",
        "\ue000 alone",  # a private-use character of the input itself
    ],
)
def test_pipeline(tmp_path, text):
    pua = byte_level_of("\ue000")
    vocab = ALPHABET | {"ĠĠ": 300, "ĠĊ": 301, pua: 302, pua[:2]: 303}
    judge, enc = make(tmp_path, vocab, S + [("<foo>", 902)], {"foo": "\ue000"})
    assert enc.encode(text) == judge.encode(text)
    assert enc.decode(enc.encode(text)) == judge.decode(judge.encode(text))


def byte_level_of(s):
    return "".join(BYTE_TO_CHAR[b] for b in s.encode())


def test_pipeline_observations(tmp_path):
    pua = byte_level_of("\ue000")  # three characters: a merge path needs the first two
    vocab = ALPHABET | {"ĠĠ": 300, pua: 302, pua[:2]: 303}
    _, enc = make(tmp_path, vocab, S, {"foo": "\ue000"})
    assert enc.encode("a  <s>") == [97, 300, 900]
    assert enc.encode("a  b") == [97, 32, 32, 98]
    assert enc.encode("<s><|x|>") == [900, 901]
    assert enc.encode("foo") == [302] and enc.decode([302]) == "foo"
    assert enc.decode(enc.encode("\ue000")) == "foo"  # mapped back although it was not a word


# ---- Decoding -----------------------------------------------------------------


@pytest.mark.parametrize(
    "ids",
    [
        [],
        [104, 105],
        [104, 1000, 105],  # vocab_size: skipped
        [104, 2**32 - 1, 105],
        [0xE2],  # a lone lead byte
        [0xE2, 0x82],
        [0xE2, 0x82, 0xAC],
        [0xE2, 900, 0x82, 0xAC],  # an added token splits a character
        [901, 902, 32, 901],  # contents with blanks and line feeds stay as written
        [950, 951],  # a gap in the ids and a special token sharing a vocabulary id
        [300, 301],
    ],
)
def test_decode(tmp_path, ids):
    vocab = ALPHABET | {"ĠĠ": 300, "\u4e2d": 301, "<v>": 951}
    added = [("<s>", 900, True), ("a b", 901), ("\n\t", 902), ("<special>", 951, True), ("<z>", 999)]
    judge, enc = make(tmp_path, vocab, added)
    assert enc.vocab_size() == 1000
    assert enc.decode(ids) == judge.decode(ids)


def test_decode_examples(tmp_path):
    _, enc = make(tmp_path, ALPHABET | {"ĠĠ": 300}, [("a b\n", 900)])
    assert enc.decode([0xE2]) == "\ufffd"
    assert enc.decode([104, 901, 105, 10**6]) == "hi"
    assert enc.decode([300, 900, 300]) == "  a b\n  "
    assert enc.decode([0xE2, 900, 0x82, 0xAC]) == "\ufffda b\n\ufffd\ufffd"


# ---- The methods ----------------------------------------------------------------


@pytest.fixture(scope="module")
def enc(tmp_path_factory):
    return make(tmp_path_factory.mktemp("e"), ALPHABET | {"ab": 300})[1]


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda e: e.decode([2**32]), OverflowError, "out of range integral type conversion attempted"),
        (lambda e: e.decode([-1]), OverflowError, "out of range integral type conversion attempted"),
        (lambda e: e.decode_batch([[1], [2**32]]), OverflowError, "out of range integral type conversion attempted"),
        (lambda e: e.decode(["a"]), TypeError, "argument 'ids': "),
        (lambda e: e.decode("ab"), TypeError, "argument 'ids': "),
        (lambda e: e.decode_batch("abc"), TypeError, "argument 'ids_list': "),
        (lambda e: e.decode_batch([[1], "ab"]), TypeError, "argument 'ids_list': "),
        (lambda e: e.encode(b"x"), TypeError, "argument 'text': 'bytes' object cannot be converted to 'PyString'"),
        (lambda e: e.encode_batch("abc"), TypeError, "argument 'texts': "),
        (lambda e: e.encode_batch(x for x in ["a"]), TypeError,
         "argument 'texts': 'generator' object cannot be converted to 'Sequence'"),
        (lambda e: e.encode_batch(["a", 1]), TypeError, "argument 'texts': 'int' object cannot be converted to 'PyString'"),
        (lambda e: e.encode(), TypeError, "BPEEncoder.encode() missing 1 required positional argument: 'text'"),
        (lambda e: e.encode("a", "b"), TypeError, "BPEEncoder.encode() takes 1 positional arguments but 2 were given"),
        (lambda e: e.decode(ids=[1], x=2), TypeError, "BPEEncoder.decode() got an unexpected keyword argument 'x'"),
        (lambda e: e.encode_batch(["a"], texts=["b"]), TypeError,
         "BPEEncoder.encode_batch() got multiple values for argument 'texts'"),
        (lambda e: e.encode("\ud800"), UnicodeEncodeError, "surrogate"),
    ],
)
def test_argument_errors(enc, call, exc, message):
    with pytest.raises(exc) as info:
        call(enc)
    assert type(info.value) is exc
    assert str(info.value).startswith(message) or (exc is UnicodeEncodeError and message in str(info.value))


@pytest.mark.parametrize("call", [lambda: BPEEncoder.encode(42, "x"), lambda: BPEEncoder.decode_batch("s", [])])
def test_methods_refuse_another_receiver(call):
    # CPython's method descriptor tests the receiver before the method runs.
    with pytest.raises(TypeError, match="'(int|str)'"):
        call()


def test_accepted_arguments(enc):
    assert enc.decode([2**32 - 1, True]) == "\x01"
    assert enc.encode(text="ab") == [300]
    assert enc.encode_batch(("ab", "a")) == [[300], [97]]
    assert enc.decode_batch(ids_list=((97,), [300])) == ["a", "ab"]
    assert enc.encode_batch([]) == [] and enc.decode_batch([]) == []
    assert enc.decode_batch([[]]) == [enc.decode([])] == [""]


def test_threads_share_one_instance(enc):
    texts = [("ab" * k + " x\n") * 50 for k in range(1, 9)]
    expected = [enc.encode(t) for t in texts]
    results, errors = {}, []

    def work(k):
        try:
            for _ in range(30):
                results[k] = (enc.encode(texts[k]), enc.encode_batch(texts), enc.decode(expected[k]))
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for k, (single, batch, text) in results.items():
        assert single == expected[k] and batch == expected and text == texts[k]

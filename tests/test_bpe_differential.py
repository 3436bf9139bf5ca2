"""Encoding and decoding with the GPT-2 vocabulary, against `tokenizers` and
`tiktoken` built from the same files, and against the plain loop of bpe_judge
wherever the peers disagree with us (their whole-piece shortcut, their merges
list, their older Unicode data): the loop decides, never a peer."""

import json
import sysconfig
from pathlib import Path

import pytest
import tiktoken
import tokenizers
from hypothesis import given, settings
from hypothesis import strategies as st

from bpe_judge import PRETOKENIZE_RE, Judge, byte_level
from byte_alphabet import BYTE_TO_CHAR
from vona_tokenizer._accel import BPEEncoder

GPT2 = Path(__file__).parent / "data" / "gpt2"
EOT = "<|endoftext|>"


@pytest.fixture(scope="module")
def vocab():
    return json.loads((GPT2 / "tokenizer.json").read_text(encoding="utf-8"))["model"]["vocab"]


@pytest.fixture(scope="module")
def ours():
    return BPEEncoder(str(GPT2 / "tokenizer.json"), str(GPT2 / "vona_mapping.json"))


@pytest.fixture(scope="module")
def judge(vocab):
    return Judge(vocab, [(EOT, 50256, True)])


@pytest.fixture(scope="module")
def hf():
    return tokenizers.Tokenizer.from_file(str(GPT2 / "tokenizer.json"))


@pytest.fixture(scope="module")
def tk(vocab):
    char_to_byte = {c: b for b, c in BYTE_TO_CHAR.items()}
    ranks = {bytes(char_to_byte[c] for c in tok): i for tok, i in vocab.items()}
    return tiktoken.Encoding("gpt2_test", pat_str=PRETOKENIZE_RE.pattern, mergeable_ranks=ranks,
                             special_tokens={EOT: 50256})


def real_texts():
    root = Path(sysconfig.get_paths()["stdlib"])
    names = ["textwrap.py", "string.py", "calendar.py", "json/decoder.py", "email/utils.py", "difflib.py"]
    texts = [(root / n).read_text(encoding="utf-8") for n in names]
    texts.append((Path(__file__).parent / "data" / "prose_multiscript.txt").read_text(encoding="utf-8"))
    return texts


def paragraphs(text):
    # Small units, so that a disagreement is judged on a short text.
    return [p for p in text.split("\n\n") if p]


def check_against_peers(ours, judge, tk, hf, texts):
    """Every text: ours == tiktoken == tokenizers, or else ours == the loop."""
    mine = ours.encode_batch(texts)
    theirs_tk = tk.encode_batch(texts, allowed_special="all")
    theirs_hf = [e.ids for e in hf.encode_batch(texts, add_special_tokens=False)]
    judged = 0
    for text, a, b, c in zip(texts, mine, theirs_tk, theirs_hf):
        if not (a == b == c):
            judged += 1
            assert a == judge.encode(text), text
    return judged


def test_real_text(ours, judge, tk, hf):
    texts = [p for t in real_texts() for p in paragraphs(t)]
    texts += [f"a{EOT}b", f"{EOT}{EOT} x", f"  {EOT}\n"]
    judged = check_against_peers(ours, judge, tk, hf, texts)
    assert judged < len(texts) // 10  # the peers agree on nearly all of it


@settings(max_examples=150, deadline=None)
@given(st.lists(st.text(max_size=60), min_size=1, max_size=10))
def test_any_text(ours, judge, texts):
    assert ours.encode_batch(texts) == [judge.encode(t) for t in texts]


@settings(max_examples=100, deadline=None)
@given(st.text(max_size=300))
def test_round_trip(ours, text):
    assert ours.decode(ours.encode(text)) == text


@settings(max_examples=100, deadline=None)
@given(st.lists(st.integers(0, 50300), max_size=30))
def test_decode_any_ids(ours, tk, hf, ids):
    # Ids at or beyond vocab_size name nothing: skipped (tiktoken and
    # tokenizers are only given the ids they know).
    known = [i for i in ids if i < 50257]
    text = ours.decode(ids)
    assert text == tk.decode(known, errors="replace")
    assert text == ours.decode(known)
    if all(i != 50256 for i in known):
        assert text == hf.decode(known)


def test_decode_real_ids(ours, tk):
    texts = real_texts()
    for text, ids in zip(texts, tk.encode_batch(texts)):
        assert ours.decode(ids) == tk.decode(ids) == text


@pytest.mark.parametrize("n", [0, 1, 7, 200])
def test_batches_equal_single_calls(ours, n):
    lines = [line for t in real_texts() for line in t.splitlines(keepends=True)][:n]
    encoded = ours.encode_batch(lines)
    assert encoded == [ours.encode(t) for t in lines]
    assert ours.decode_batch(encoded) == [ours.decode(i) for i in encoded] == lines


def test_long_runs(ours, hf):
    for text in [" " * 1_000_000, "a" * 1_000_000, "x" + "\n" * 100_000 + "y"]:
        ids = ours.encode(text)
        assert ours.decode(ids) == text
        assert ids == hf.encode(text, add_special_tokens=False).ids


# ---- A tokenizer with a PUA mapping -----------------------------------------

WORDS = ["self", "return", "def", "import", "value", "Error", "None", "string", "get", "init"]


@pytest.fixture(scope="module")
def mapped(tmp_path_factory, vocab):
    """GPT-2 plus a few words mapped to private-use characters that have
    tokens of their own (with the two-character step that reaches them)."""
    word_to_pua = {w: chr(0xE000 + k) for k, w in enumerate(WORDS)}
    extended = dict(vocab)
    next_id = 50257
    for c in word_to_pua.values():
        bl = byte_level(c.encode())
        for s in (bl[:2], bl):
            if s not in extended:
                extended[s] = next_id
                next_id += 1
    tmp = tmp_path_factory.mktemp("pua")
    doc = {"added_tokens": [{"id": 50256, "content": EOT, "special": True}],
           "model": {"type": "BPE", "vocab": extended, "merges": []}}
    (tmp / "t.json").write_text(json.dumps(doc), encoding="utf-8")
    (tmp / "m.json").write_text(json.dumps({"word_to_codepoint": {w: ord(c) for w, c in word_to_pua.items()}}))
    enc = BPEEncoder(str(tmp / "t.json"), str(tmp / "m.json"))
    return enc, Judge(extended, [(EOT, 50256, True)], word_to_pua)


def test_mapped_real_text(mapped):
    enc, judge = mapped
    texts = [p for t in real_texts()[:3] for p in paragraphs(t)][:150]
    encoded = enc.encode_batch(texts)
    assert encoded == [judge.encode(t) for t in texts]
    assert enc.decode_batch(encoded) == texts
    assert any(i >= 50257 for ids in encoded for i in ids)  # the mapped words were used


NO_PUA = st.characters(blacklist_categories=["Cs", "Co"])


@settings(max_examples=100, deadline=None)
@given(st.lists(st.one_of(st.sampled_from(WORDS + ["_", "__", " ", "getValue", "self.x"]), st.text(NO_PUA, max_size=8)),
                max_size=20).map("".join))
def test_mapped_round_trip(mapped, text):
    enc, _ = mapped
    assert enc.decode(enc.encode(text)) == text

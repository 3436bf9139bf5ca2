"""A plain-Python encoder that decides what the BPE ids of a text are.

Every step written the direct way: PUA substitution by the reference in
text_oracle, the leftmost-longest added-token split, the GPT-2 pattern run by
`regex` (White_Space spelt out for \\s), the byte-level alphabet, and the
merge loop itself: the bytes of the byte-level string as initial symbols,
the rank of two neighbours the id of their concatenation, the lowest rank
merged first and the leftmost of equal ranks, neighbours re-ranked.
"""

import json

import regex

import text_oracle
from byte_alphabet import BYTE_TO_CHAR

PRETOKENIZE_RE = regex.compile(
    r"'s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\p{White_Space}\p{L}\p{N}]+"
    r"|\p{White_Space}+(?!\P{White_Space})|\p{White_Space}+"
)
CHAR_TO_BYTE = {c: b for b, c in BYTE_TO_CHAR.items()}
NO_MERGE = 2**32 - 1


class MissingByte(Exception):
    """The vocabulary lacks a byte the piece needs (the text the encoder reports)."""


def byte_level(data):
    """Raw bytes -> the byte-level string."""
    return "".join(BYTE_TO_CHAR[b] for b in data)


def pretokens(chunk):
    return PRETOKENIZE_RE.findall(chunk)


def merge_piece(piece, vocab):
    """piece: the UTF-8 bytes of a byte-level string; vocab: bytes -> id."""
    n = len(piece)
    if n == 0:
        return []
    if n == 1:
        if piece in vocab:
            return [vocab[piece]]
        raise MissingByte(f"single byte 0x{piece[0]:02X} missing from vocab")
    starts = list(range(n + 1))

    def rank(i):
        if i + 2 < len(starts):
            return vocab.get(piece[starts[i] : starts[i + 2]], NO_MERGE)
        return NO_MERGE

    ranks = [rank(i) for i in range(len(starts))]
    while True:
        best, b = NO_MERGE, -1
        for i in range(len(ranks) - 1):
            if ranks[i] < best:
                best, b = ranks[i], i
        if best == NO_MERGE:
            break
        del starts[b + 1]
        del ranks[b + 1]
        ranks[b] = rank(b)
        if b > 0:
            ranks[b - 1] = rank(b - 1)
    out = []
    for i in range(len(starts) - 1):
        sym = piece[starts[i] : starts[i + 1]]
        if sym in vocab:
            out.append(vocab[sym])
            continue
        for byte in sym:
            if bytes([byte]) not in vocab:
                raise MissingByte("byte in alphabet")
            out.append(vocab[bytes([byte])])
    return out


class Judge:
    """The reference encoder and decoder for one tokenizer description.

    vocab: token string -> id; added: [(content, id, special)] in file order;
    word_to_pua: word -> character.
    """

    def __init__(self, vocab, added=(), word_to_pua=None):
        added = [(a[0], a[1], bool(a[2]) if len(a) > 2 else False) for a in added]
        special = {tid for _, tid, sp in added if sp}
        self.vocab = {t.encode("utf-8"): i for t, i in vocab.items() if i not in special}
        self.added = {}
        self.id_to_added = {}
        for content, tid, _ in added:
            self.added[content] = tid
            self.id_to_added[tid] = content
        self.by_length = sorted((c for c in self.added if c), key=lambda c: (-len(c.encode()), c.encode()))
        self.word_to_pua = dict(word_to_pua or {})
        self.pua_to_word = {c: w for w, c in self.word_to_pua.items()}
        self.size = max([*vocab.values(), *(a[1] for a in added), 0]) + 1
        self.id_to_token = {}
        for t, i in vocab.items():
            self.id_to_token.setdefault(i, t)

    def split(self, text):
        """Chunks (str) and added-token ids, leftmost-longest."""
        out, p, i = [], 0, 0
        while i < len(text):
            hit = next((c for c in self.by_length if text.startswith(c, i)), None)
            if hit is None:
                i += 1
                continue
            if i > p:
                out.append(text[p:i])
            out.append(self.added[hit])
            i = p = i + len(hit)
        if p < len(text):
            out.append(text[p:])
        return out

    def encode(self, text):
        if self.word_to_pua:
            text = "".join(text_oracle.pieces(text, self.word_to_pua))
        ids = []
        for part in self.split(text):
            if isinstance(part, int):
                ids.append(part)
                continue
            for piece in pretokens(part):
                ids.extend(merge_piece(byte_level(piece.encode("utf-8")).encode("utf-8"), self.vocab))
        return ids

    def decode(self, ids):
        out = bytearray()
        for i in ids:
            if i >= self.size:
                continue
            if i in self.id_to_added:
                out += self.id_to_added[i].encode("utf-8")
                continue
            for c in self.id_to_token.get(i, ""):
                out += bytes([CHAR_TO_BYTE[c]]) if c in CHAR_TO_BYTE else c.encode("utf-8")
        text = out.decode("utf-8", "replace")
        if self.pua_to_word:
            text = text_oracle.reverse(text, self.pua_to_word)
        return text


def judge_and_files(tmp_path, vocab, added=(), word_to_pua=None, name="j"):
    """The judge for a tokenizer description and the files of the same tokenizer."""
    judge = Judge(vocab, added, word_to_pua)
    tokens = [{"id": a[1], "content": a[0], "special": bool(a[2]) if len(a) > 2 else False} for a in added]
    doc = {"added_tokens": tokens, "model": {"type": "BPE", "vocab": vocab, "merges": []}}
    tok, mp = tmp_path / f"{name}_tokenizer.json", tmp_path / f"{name}_mapping.json"
    tok.write_text(json.dumps(doc), encoding="utf-8")
    mp.write_text(json.dumps({"word_to_codepoint": {w: ord(c) for w, c in (word_to_pua or {}).items()}}), "utf-8")
    return judge, str(tok), str(mp)

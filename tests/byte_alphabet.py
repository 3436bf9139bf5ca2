"""The GPT-2 byte-level alphabet and tiny tokenizer files built on it, for tests.

A vocabulary of just the 256 alphabet characters, character of byte b at id b,
has nothing to merge: ordinary text encodes to its UTF-8 bytes, so every
other id in a result is visibly an added token or a multi-character token.
"""

import json


def byte_to_char():
    """Byte -> character, written out from the rule: printable Latin-1 bytes
    stand for themselves, the other 68 bytes take U+0100 onwards in byte order."""
    keep = set(range(0x21, 0x7F)) | set(range(0xA1, 0xAD)) | set(range(0xAE, 0x100))
    table, extra = {}, 0
    for b in range(256):
        if b in keep:
            table[b] = chr(b)
        else:
            table[b] = chr(0x100 + extra)
            extra += 1
    return table


BYTE_TO_CHAR = byte_to_char()


def write_tokenizer(tmp_path, added=(), vocab_extra=None, mapping=None, name="t"):
    """Writes a byte-alphabet tokenizer plus a mapping file; returns both paths.

    added: (content, id) or (content, id, special) tuples, in file order.
    vocab_extra: further vocabulary entries {token: id}.
    mapping: the word_to_codepoint object (default empty).
    """
    vocab = {BYTE_TO_CHAR[b]: b for b in range(256)}
    vocab.update(vocab_extra or {})
    tokens = []
    for entry in added:
        content, tid, *rest = entry
        tokens.append({"id": tid, "content": content, "special": bool(rest and rest[0])})
    doc = {"added_tokens": tokens, "model": {"type": "BPE", "vocab": vocab, "merges": []}}
    tok = tmp_path / f"{name}_tokenizer.json"
    mp = tmp_path / f"{name}_mapping.json"
    tok.write_text(json.dumps(doc), encoding="utf-8")
    mp.write_text(json.dumps({"word_to_codepoint": mapping or {}}), encoding="utf-8")
    return str(tok), str(mp)


def ids(*parts):
    """Expected ids: str parts as their UTF-8 bytes, ints as themselves."""
    out = []
    for p in parts:
        out.extend(p.encode("utf-8") if isinstance(p, str) else [p])
    return out

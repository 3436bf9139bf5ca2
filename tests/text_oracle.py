"""Plain-Python references for the PUA substitution and token counting:
the token pattern run by `regex`, the identifier rules written with `re`."""

import re
from collections import Counter

import regex

_STARTER = r"[\p{Emoji_Presentation}\p{Extended_Pictographic}]"
_WORD_CLASS = r"\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\p{Join_Control}"
TOKEN_RE = regex.compile(
    rf"(?:{_STARTER}(?:\u200D{_STARTER})*[\uFE0F\u20E3\p{{Emoji_Modifier}}]*)+"
    r"|[\p{L}\p{N}_](?:[\p{L}\p{N}_\-]*[\p{L}\p{N}_])?"
    r"|(?:!=|==|<=|>=|<<|>>|\+=|-=|\*=|/=|%=|&&|\|\||->|=>|::|:=|\.\.\.|\.\.)"
    rf"|[^\p{{White_Space}}{_WORD_CLASS}]"
)

IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
# Word parts of an identifier segment: an acronym gives up its last capital
# to a following capitalised word.
CAMEL_RE = re.compile(r"[A-Z]+(?=[A-Z][a-z])|[A-Z][a-z]+|[A-Z]+|[a-z]+|[0-9]+")


def is_identifier(t):
    return IDENT_RE.fullmatch(t) is not None


def camel_parts(segment):
    return CAMEL_RE.findall(segment)


def identifier_parts(ident):
    return [p for seg in ident.split("_") if seg for p in camel_parts(seg)]


def pieces(text, word_to_pua):
    """The pieces of the pretokenized text: gaps, whole tokens, and for an
    identifier its underscores and parts one by one."""
    out, pos = [], 0
    for m in TOKEN_RE.finditer(text):
        if m.start() > pos:
            out.append(text[pos : m.start()])
        pos = m.end()
        t = m.group()
        if t in word_to_pua:
            out.append(word_to_pua[t])
        elif not is_identifier(t) or not identifier_parts(t):
            out.append(t)
        else:
            segments = t.split("_")
            for k, seg in enumerate(segments):
                if k:
                    out.append("_")
                out.extend(word_to_pua.get(p, p) for p in camel_parts(seg))
    if pos < len(text):
        out.append(text[pos:])
    return out


def is_pua(c):
    cp = ord(c)
    return 0xE000 <= cp <= 0xF8FF or 0xF0000 <= cp <= 0xFFFFD or 0x100000 <= cp <= 0x10FFFD


def reverse(text, pua_to_word):
    return "".join(pua_to_word.get(c, c) if is_pua(c) else c for c in text)


def count(text, boost_weight, max_token_len):
    counts, boosts = Counter(), {}
    for t in TOKEN_RE.findall(text):
        if len(t) > max_token_len:
            continue
        counts[t] += 1
        if boost_weight > 0.0 and is_identifier(t):
            for p in identifier_parts(t):
                if p != t:
                    boosts[p] = boosts.get(p, 0.0) + boost_weight
    return dict(counts), boosts

"""Identifiers: the ASCII identifier test and the split into word parts."""

import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vona_tokenizer import _accel


@pytest.mark.parametrize(
    "s, expected",
    [
        ("", False),
        ("_", True),
        ("__init__", True),
        ("A", True),
        ("a1", True),
        ("x86_64", True),
        ("Z_9", True),
        ("1a", False),
        ("a-b", False),
        ("a b", False),
        ("foo.bar", False),
        ("é", False),
        ("aé", False),
        ("a\u0660", False),  # a non-ASCII digit
        ("a\x00", False),
        ("a\n", False),
    ],
)
def test_is_identifier(s, expected):
    assert _accel.is_identifier(s) is expected


@pytest.mark.parametrize(
    "ident, expected",
    [
        ("", []),
        ("_", []),
        ("___", []),
        ("__init__", ["init"]),
        ("a__b", ["a", "b"]),
        ("snake_case_name", ["snake", "case", "name"]),
        ("camelCase", ["camel", "Case"]),
        ("PascalCase", ["Pascal", "Case"]),
        ("getJSONValue", ["get", "JSON", "Value"]),
        ("XMLParser", ["XML", "Parser"]),
        ("IOError", ["IO", "Error"]),
        ("ABC", ["ABC"]),
        ("ABCd", ["AB", "Cd"]),
        ("aBC", ["a", "BC"]),
        ("aBCd", ["a", "B", "Cd"]),
        ("x86_64", ["x", "86", "64"]),
        ("base64Encode", ["base", "64", "Encode"]),
        ("A1b", ["A", "1", "b"]),
        ("Ab1", ["Ab", "1"]),
        ("ABC1", ["ABC", "1"]),
        ("MyXMLDoc", ["My", "XML", "Doc"]),
        ("HTTP2Server_v1", ["HTTP", "2", "Server", "v", "1"]),
        # Not identifiers: other characters belong to no part.
        ("foo-bar", ["foo", "bar"]),
        ("a$", ["a"]),
        ("$", ["$"]),
        ("$_$", ["$", "$"]),
        ("A-b", ["A", "b"]),
        ("naïve", ["na", "ve"]),
        ("日本", ["日本"]),
        ("日本_x", ["日本", "x"]),
        ("Éa", ["a"]),
        ("-.-", ["-.-"]),
    ],
)
def test_split_identifier(ident, expected):
    assert _accel.split_identifier(ident) == expected


def _camel_pieces():
    # Runs that exercise every rule: lower words, capitalised words,
    # acronyms, digits, single capitals.
    return st.sampled_from(["a", "get", "x", "Value", "A", "JSON", "IO", "B", "9", "64", "0"])


identifiers = st.builds(
    lambda head, rest: head + rest,
    st.sampled_from(list("aZ_") + ["get", "XML", "_x"]),
    st.lists(st.one_of(_camel_pieces(), st.sampled_from(["_", "__"])), max_size=12).map("".join),
)


@settings(max_examples=500, deadline=None)
@given(st.one_of(identifiers, st.from_regex(r"[A-Za-z_][A-Za-z0-9_]{0,20}", fullmatch=True)))
def test_parts_rebuild_each_segment(ident):
    assert _accel.is_identifier(ident)
    parts = _accel.split_identifier(ident)
    segments = [seg for seg in ident.split("_") if seg]
    # Every part comes from one segment, in order, and the parts of each
    # segment cover it exactly.
    it = iter(parts)
    for seg in segments:
        rebuilt = ""
        while len(rebuilt) < len(seg):
            part = next(it)
            assert part and "_" not in part
            rebuilt += part
        assert rebuilt == seg
    assert next(it, None) is None


# An independent statement of the part rules as one regular expression: an
# acronym gives up its last capital to a following capitalised word; anything
# that is not an ASCII letter or digit separates parts.
CAMEL = re.compile(r"[A-Z]+(?=[A-Z][a-z])|[A-Z][a-z]+|[A-Z]+|[a-z]+|[0-9]+")


def reference_parts(text):
    return [p for seg in text.split("_") if seg for p in (CAMEL.findall(seg) or [seg])]


@settings(max_examples=800, deadline=None)
@given(st.text(alphabet=st.sampled_from(list("aAbBzZ09_-$. ") + ["é", "É", "日", "\u0301", "\U0001f600"]), max_size=24))
def test_split_matches_reference_on_any_text(text):
    assert _accel.split_identifier(text) == reference_parts(text)

"""PreparedMapping: validation of the two dicts, sizes, repr, and the
snapshot it keeps of them."""

import types
import weakref
from collections import OrderedDict

import pytest

from vona_tokenizer import _accel

PM = _accel.PreparedMapping
E0, E1 = "\ue000", "\ue001"


@pytest.mark.parametrize(
    "w2p, p2w, size, chars",
    [
        ({}, {}, 0, 0),
        ({"get": E0, "value": E1}, {}, 2, 0),
        ({}, {E0: "get"}, 0, 1),
        ({"get": E0}, {E0: "get", E1: "other"}, 1, 2),
        # Neither private-use characters nor non-empty words are required.
        ({"x": "x", "": E0}, {"é": ""}, 2, 1),
        ({"word": "\U0010fffd"}, {"\U000f0000": "w"}, 1, 1),
    ],
)
def test_sizes_repr_and_truth(w2p, p2w, size, chars):
    pm = PM(w2p, p2w)
    assert len(pm) == size
    assert bool(pm) is (size > 0)
    assert repr(pm) == f"<PreparedMapping size={size} pua_chars={chars}>"


class NotADict:
    pass


@pytest.mark.parametrize(
    "w2p, p2w, exc, message",
    [
        ([], [], TypeError, "argument 'word_to_pua': 'list' object cannot be converted to 'PyDict'"),
        ({}, None, TypeError, "argument 'pua_to_word': 'NoneType' object cannot be converted to 'PyDict'"),
        (NotADict(), {}, TypeError, "argument 'word_to_pua': 'NotADict' object cannot be converted to 'PyDict'"),
        # The type tests come before any entry is read.
        ({"w": "ab"}, [], TypeError, "argument 'pua_to_word': 'list' object cannot be converted to 'PyDict'"),
        ({"w": 1}, {}, TypeError, "'int' object cannot be converted to 'PyString'"),
        ({1: E0}, {}, TypeError, "'int' object cannot be converted to 'PyString'"),
        ({b"w": E0}, {}, TypeError, "'bytes' object cannot be converted to 'PyString'"),
        ({"w": ""}, {}, ValueError, "word_to_pua value must be a non-empty string"),
        ({"w": "ab"}, {}, ValueError, "word_to_pua value must be a single character"),
        ({"w": "e\u0301"}, {}, ValueError, "word_to_pua value must be a single character"),
        ({"w": "\u2764\ufe0f"}, {}, ValueError, "word_to_pua value must be a single character"),
        ({}, {"": "w"}, ValueError, "pua_to_word key must be a non-empty string"),
        ({}, {"ab": "w"}, ValueError, "pua_to_word key must be a single character"),
        ({}, {E0: None}, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
        ({}, {None: "w"}, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
        # The key is judged before the value is converted.
        ({}, {"ab": None}, ValueError, "pua_to_word key must be a single character"),
        # Every word_to_pua entry is examined before any pua_to_word entry.
        ({"w": "ab"}, {"": "w"}, ValueError, "word_to_pua value must be a single character"),
        ({"ok": E0, "w": ""}, {1: "w"}, ValueError, "word_to_pua value must be a non-empty string"),
        # Entries are read in insertion order: the first bad one is reported.
        ({"a": "", "b": 2}, {}, ValueError, "word_to_pua value must be a non-empty string"),
        ({"a": 2, "b": ""}, {}, TypeError, "'int' object cannot be converted to 'PyString'"),
    ],
)
def test_constructor_refusals(w2p, p2w, exc, message):
    with pytest.raises(exc) as info:
        PM(w2p, p2w)
    assert type(info.value) is exc
    assert str(info.value) == message


def test_single_code_point_with_accent_is_accepted():
    pm = PM({"cafe": "\u00e9"}, {"\u00e9": "cafe"})
    assert _accel.pretokenize_to_string("cafe", pm) == "\u00e9"


@pytest.mark.parametrize("where", ["key", "value"])
def test_lone_surrogate_raises_unicode_encode_error(where):
    w2p = {"\ud800": E0} if where == "key" else {"w": "\ud800"}
    with pytest.raises(UnicodeEncodeError):
        PM(w2p, {})


def test_binding_errors():
    with pytest.raises(TypeError) as info:
        PM({})
    assert str(info.value) == "PreparedMapping.__new__() missing 1 required positional argument: 'pua_to_word'"
    with pytest.raises(TypeError) as info:
        PM({}, {}, {})
    assert str(info.value) == "PreparedMapping.__new__() takes 2 positional arguments but 3 were given"
    pm = PM(pua_to_word={E0: "w"}, word_to_pua={"w": E0})
    assert repr(pm) == "<PreparedMapping size=1 pua_chars=1>"


class Dict(dict):
    def items(self):  # never consulted: entries are read from the dict itself
        raise AssertionError


def test_dict_subclasses_accepted():
    pm = PM(OrderedDict([("get", E0)]), Dict({E0: "get"}))
    assert repr(pm) == "<PreparedMapping size=1 pua_chars=1>"
    assert _accel.pretokenize_to_string("get", pm) == E0
    assert _accel.reverse_pua_substitute(E0, pm) == "get"


def test_mappingproxy_refused():
    with pytest.raises(TypeError) as info:
        PM(types.MappingProxyType({"w": E0}), {})
    assert str(info.value) == "argument 'word_to_pua': 'mappingproxy' object cannot be converted to 'PyDict'"


def test_snapshot_ignores_later_changes():
    w2p, p2w = {"get": E0}, {E0: "get"}
    pm = PM(w2p, p2w)
    w2p["Value"] = E1
    del w2p["get"]
    p2w[E1] = "Value"
    p2w[E0] = "changed"
    assert len(pm) == 1
    assert repr(pm) == "<PreparedMapping size=1 pua_chars=1>"
    assert _accel.pretokenize_to_string("getValue", pm) == E0 + "Value"
    assert _accel.reverse_pua_substitute(E0 + E1, pm) == "get" + E1


def test_class_shape():
    assert PM.__module__ == "vona_tokenizer._accel"
    assert PM.__text_signature__ == "(word_to_pua, pua_to_word)"
    assert PM.__doc__.strip()
    pm = PM({}, {})
    with pytest.raises(TypeError):

        class Sub(PM):
            pass

    with pytest.raises(AttributeError):
        pm.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(pm)
    assert pm == pm and pm != PM({}, {})
    assert hash(pm) == hash(pm)


def test_prepared_argument_refused():
    with pytest.raises(TypeError) as info:
        _accel.pretokenize_to_string("text", {"w": E0})
    assert str(info.value) == "argument 'prepared': 'dict' object cannot be converted to 'PreparedMapping'"


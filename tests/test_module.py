"""Conventions every entry point of the native module shares: the module
object, registration, argument binding, text arguments, signatures and the
shape of the classes."""

import importlib
import inspect
import sys
import weakref

import pytest

from vona_tokenizer import _accel

FUNCTIONS = {
    "iter_token_strings": ["text"],
    "is_identifier": ["s"],
    "split_identifier": ["ident"],
    "is_pua_char": ["s"],
    "vona_split_text": ["text", "prepared"],
    "pretokenize_to_string": ["text", "prepared"],
    "pretokenize_batch": ["texts", "prepared"],
    "reverse_pua_substitute": ["text", "prepared"],
    "reverse_pua_batch": ["texts", "prepared"],
    "count_in_text": ["text", "boost_weight", "max_token_len"],
    "count_frequencies": ["shard_paths", "boost_weight", "max_token_len"],
    "has_secret": ["text"],
}
CLASSES = {
    "PreparedMapping": ["word_to_pua", "pua_to_word"],
    "BPEEncoder": ["tokenizer_json", "vona_mapping_json"],
}
METHODS = {
    "BPEEncoder": {
        "encode": ["text"],
        "encode_batch": ["texts"],
        "decode": ["ids"],
        "decode_batch": ["ids_list"],
        "vocab_size": [],
    },
}

# Classes whose instances are cheap to make without files.
INSTANCES = {"PreparedMapping": lambda cls: cls({}, {})}

Py_TPFLAGS_BASETYPE = 1 << 10
Py_TPFLAGS_HAVE_GC = 1 << 14


def native(name):
    assert hasattr(_accel, name), f"{name} is not registered"
    return getattr(_accel, name)


def test_reimport_gives_the_same_module():
    name = "vona_tokenizer._accel"
    first = sys.modules[name]
    del sys.modules[name]
    try:
        again = importlib.import_module(name)
        assert again is first
        assert again.iter_token_strings("a b") == ["a", "b"]
    finally:
        sys.modules[name] = first


def test_build_tag_and_all():
    assert _accel.__build_tag__ == "vona-core 1.0.0"
    assert _accel.__all__ == ["__build_tag__", *CLASSES, *FUNCTIONS]
    for name in _accel.__all__:
        assert hasattr(_accel, name)


@pytest.mark.parametrize("name", list(FUNCTIONS) + list(CLASSES))
def test_module_of_registered_names(name):
    assert native(name).__module__ == "vona_tokenizer._accel"


@pytest.mark.parametrize(
    "name, args, kwargs, message",
    [
        ("is_identifier", (), {}, "is_identifier() missing 1 required positional argument: 's'"),
        ("is_identifier", ("a", "b"), {}, "is_identifier() takes 1 positional arguments but 2 were given"),
        ("split_identifier", ("a", "b", "c"), {}, "split_identifier() takes 1 positional arguments but 3 were given"),
        ("is_identifier", ("a",), {"s": "b"}, "is_identifier() got multiple values for argument 's'"),
        ("is_identifier", (), {"x": "a"}, "is_identifier() got an unexpected keyword argument 'x'"),
        ("iter_token_strings", (), {"text": "a", "s": "b"}, "iter_token_strings() got an unexpected keyword argument 's'"),
        ("vona_split_text", (), {}, "vona_split_text() missing 2 required positional arguments: 'text' and 'prepared'"),
        (
            "count_in_text",
            (),
            {},
            "count_in_text() missing 3 required positional arguments: 'text', 'boost_weight', and 'max_token_len'",
        ),
        (
            "count_in_text",
            (),
            {"boost_weight": 1.0},
            "count_in_text() missing 2 required positional arguments: 'text' and 'max_token_len'",
        ),
    ],
)
def test_binding_messages(name, args, kwargs, message):
    fn = native(name)
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message


def test_keyword_arguments_bind_by_name():
    assert _accel.iter_token_strings(text="a b") == ["a", "b"]
    assert _accel.is_identifier(s="_x") is True
    assert _accel.split_identifier(ident="getJSON") == ["get", "JSON"]


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "name, param, value, type_name",
    [
        ("iter_token_strings", "text", b"abc", "bytes"),
        ("is_identifier", "s", 3, "int"),
        ("split_identifier", "ident", None, "NoneType"),
        ("iter_token_strings", "text", ["a"], "list"),
        ("is_identifier", "s", Outer.Inner(), "Outer.Inner"),  # the qualified name
        ("has_secret", "text", bytearray(b"x"), "bytearray"),
    ],
)
def test_text_arguments_refuse_other_types(name, param, value, type_name):
    fn = native(name)
    with pytest.raises(TypeError) as info:
        fn(value)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument '{param}': '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("name", ["iter_token_strings", "is_identifier", "split_identifier", "has_secret"])
@pytest.mark.parametrize("text", ["\ud800", "ab\udfffc"])
def test_lone_surrogate_raises_unicode_encode_error(name, text):
    fn = native(name)
    with pytest.raises(UnicodeEncodeError) as info:
        fn(text)
    assert not str(info.value).startswith("argument")


def _signature_cases():
    for name, params in {**FUNCTIONS, **CLASSES}.items():
        yield pytest.param(name, None, params, id=name)
    for cls, methods in METHODS.items():
        for method, params in methods.items():
            yield pytest.param(cls, method, params, id=f"{cls}.{method}")


@pytest.mark.parametrize("name, method, params", list(_signature_cases()))
def test_signatures(name, method, params):
    obj = native(name)
    if method is not None:
        obj = getattr(obj, method)
    sig = inspect.signature(obj)
    names = list(sig.parameters)
    if method is not None:
        assert names[0] == "self"
        names = names[1:]
    assert names == params
    for p in list(sig.parameters.values())[1 if method else 0:]:
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is inspect.Parameter.empty


@pytest.mark.parametrize("name", list(CLASSES))
def test_classes_are_final_and_closed(name):
    cls = native(name)
    assert cls.__module__ == "vona_tokenizer._accel"
    assert cls.__qualname__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert not cls.__flags__ & Py_TPFLAGS_BASETYPE
    assert not cls.__flags__ & Py_TPFLAGS_HAVE_GC
    assert cls.__dictoffset__ == 0 and cls.__weakrefoffset__ == 0
    if name in INSTANCES:
        obj = INSTANCES[name](cls)
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)

"""Reading the tokenizer file and the mapping file: the records, their two
written forms, and the exact description of every fault (line and column
included). Files are tiny and written into tmp_path."""

import pytest

from vona_tokenizer import _accel

BPEEncoder = _accel.BPEEncoder

MODEL = '{"type": "BPE", "vocab": {"a": 0}, "merges": []}'
TOKENIZER = '{"added_tokens": [], "model": ' + MODEL + "}"
MAPPING = '{"word_to_codepoint": {}}'

TOK_PREFIX = "tokenizer.json parse error: "
MAP_PREFIX = "vona_mapping.json parse: "


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_bytes(text.encode() if isinstance(text, str) else text)
    return str(path)


def load(tmp_path, tokenizer=TOKENIZER, mapping=MAPPING):
    return BPEEncoder(write(tmp_path, "tokenizer.json", tokenizer), write(tmp_path, "vona_mapping.json", mapping))


def load_error(tmp_path, tokenizer=TOKENIZER, mapping=MAPPING):
    with pytest.raises(OSError) as info:
        load(tmp_path, tokenizer, mapping)
    assert len(info.value.args) == 1
    return info.value.args[0]


def tok_with_token(token):
    """A tokenizer file whose one added token is the given text."""
    return '{"added_tokens": [' + token + '], "model": ' + MODEL + "}"


def tok_with_model(model):
    return '{"added_tokens": [], "model": ' + model + "}"


def tok_with_merges(merges):
    # The merges value starts at column 68 (67 bytes before it).
    return tok_with_model('{"type": "x", "vocab": {}, "merges": ' + merges + "}")


TOKENIZER_FAULTS = [
    # the document as a whole
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   ", "EOF while parsing a value at line 1 column 3"),
    ("\ufeff" + TOKENIZER, "expected value at line 1 column 1"),
    ("null", "invalid type: null, expected struct TokenizerJson at line 1 column 4"),
    ('"tok"', 'invalid type: string "tok", expected struct TokenizerJson at line 1 column 5'),
    ("[]", "invalid length 0, expected struct TokenizerJson with 2 elements at line 1 column 2"),
    ("[[]]", "invalid length 1, expected struct TokenizerJson with 2 elements at line 1 column 4"),
    ("[[], " + MODEL + ", 5]", "trailing characters at line 1 column 56"),
    (TOKENIZER + " x", "trailing characters at line 1 column 81"),
    (TOKENIZER + "\n\n  }", "trailing characters at line 3 column 3"),
    # missing and repeated fields, in their order
    ("{}", "missing field `added_tokens` at line 1 column 2"),
    ('{"added_tokens": []}', "missing field `model` at line 1 column 20"),
    ('{"model": ' + MODEL + "}", "missing field `added_tokens` at line 1 column 59"),
    (tok_with_model("{}"), "missing field `type` at line 1 column 32"),
    (tok_with_model('{"merges": [], "vocab": {}}'), "missing field `type` at line 1 column 57"),
    (tok_with_model('{"type": "x", "merges": []}'), "missing field `vocab` at line 1 column 57"),
    (tok_with_model('{"type": "x", "vocab": {}}'), "missing field `merges` at line 1 column 56"),
    # inside a member: its own fault comes first, before the outer record is complete
    ('{"model": {}}', "missing field `type` at line 1 column 12"),
    (TOKENIZER[:-1] + ', "added_tokens": []}', "duplicate field `added_tokens` at line 1 column 94"),
    # the duplicate is placed after the key and the white space behind it
    (TOKENIZER[:-1] + ', "model"  : {}}', "duplicate field `model` at line 1 column 89"),
    # the added tokens
    ('{"added_tokens": {}, "model": ' + MODEL + "}", "invalid type: map, expected a sequence at line 1 column 17"),
    (tok_with_token('"x"'), 'invalid type: string "x", expected struct AddedTokenJson at line 1 column 21'),
    (tok_with_token('{"content": "x"}'), "missing field `id` at line 1 column 34"),
    (tok_with_token('{"id": 0}'), "missing field `content` at line 1 column 27"),
    (tok_with_token('{"id": 0, "content": "x", "id": 1}'), "duplicate field `id` at line 1 column 48"),
    (tok_with_token('{"id": -1, "content": "x"}'), "invalid value: integer `-1`, expected u32 at line 1 column 27"),
    (
        tok_with_token('{"id": 4294967296, "content": "x"}'),
        "invalid value: integer `4294967296`, expected u32 at line 1 column 35",
    ),
    (tok_with_token('{"id": 1.5, "content": "x"}'), "invalid type: floating point `1.5`, expected u32 at line 1 column 28"),
    (tok_with_token('{"id": 1e2, "content": "x"}'), "invalid type: floating point `100.0`, expected u32 at line 1 column 28"),
    (tok_with_token('{"id": "1", "content": "x"}'), 'invalid type: string "1", expected u32 at line 1 column 28'),
    (tok_with_token('{"id": 0, "content": 5}'), "invalid type: integer `5`, expected a string at line 1 column 40"),
    (tok_with_token('{"id": 0, "content": null}'), "invalid type: null, expected a string at line 1 column 43"),
    (
        tok_with_token('{"id": 0, "content": "x", "special": "yes"}'),
        'invalid type: string "yes", expected a boolean at line 1 column 60',
    ),
    (
        tok_with_token('{"id": 0, "content": "x", "normalized": 0}'),
        "invalid type: integer `0`, expected a boolean at line 1 column 59",
    ),
    (tok_with_token("[0]"), "invalid length 1, expected struct AddedTokenJson with 7 elements at line 1 column 21"),
    (tok_with_token('[0, "x", true, false, false, false, false, true]'), "trailing characters at line 1 column 62"),
    (tok_with_token('[0, "x", null]'), "invalid type: null, expected a boolean at line 1 column 31"),
    # the model
    (tok_with_model('"BPE"'), 'invalid type: string "BPE", expected struct ModelJson at line 1 column 35'),
    (tok_with_model("[]"), "invalid length 0, expected struct ModelJson with 3 elements at line 1 column 32"),
    (tok_with_model('["BPE", {}]'), "invalid length 2, expected struct ModelJson with 3 elements at line 1 column 41"),
    (tok_with_model('["BPE", {}, [], 0]'), "trailing characters at line 1 column 47"),
    (tok_with_model('{"type": 5, "vocab": {}, "merges": []}'), "invalid type: integer `5`, expected a string at line 1 column 40"),
    (
        tok_with_model('{"type": "x", "vocab": [], "merges": []}'),
        "invalid type: sequence, expected a map at line 1 column 53",
    ),
    (
        tok_with_model('{"type": "x", "vocab": {"a": -1}, "merges": []}'),
        "invalid value: integer `-1`, expected u32 at line 1 column 61",
    ),
    (
        tok_with_model('{"type": "x", "vocab": {"a": 1.0}, "merges": []}'),
        "invalid type: floating point `1.0`, expected u32 at line 1 column 62",
    ),
    (tok_with_model('{"type": "x", "vocab": {"a": 1e400}, "merges": []}'), "number out of range at line 1 column 64"),
    (
        tok_with_model('{"type": "x", "vocab": {"a": true}, "merges": []}'),
        "invalid type: boolean `true`, expected u32 at line 1 column 63",
    ),
    # the merges
    (tok_with_merges("{}"), "invalid type: map, expected a sequence at line 1 column 67"),
    (tok_with_merges('["a b"]'), 'invalid type: string "a b", expected a tuple of size 2 at line 1 column 73'),
    (tok_with_merges("[5]"), "invalid type: integer `5`, expected a tuple of size 2 at line 1 column 69"),
    (tok_with_merges("[[]]"), "invalid length 0, expected a tuple of size 2 at line 1 column 70"),
    (tok_with_merges('[["a"]]'), "invalid length 1, expected a tuple of size 2 at line 1 column 73"),
    (tok_with_merges('[["a", "b", "c"]]'), "trailing characters at line 1 column 80"),
    (tok_with_merges('[["a", "b",]]'), "trailing comma at line 1 column 79"),
    (tok_with_merges('[["a", 5]]'), "invalid type: integer `5`, expected a string at line 1 column 75"),
    (tok_with_merges('[["a", "b"],]'), "trailing comma at line 1 column 80"),
    # syntax, with the position where the reader stopped
    ('{"added_tokens": [', "EOF while parsing a list at line 1 column 18"),
    ('{"added_tokens"', "EOF while parsing an object at line 1 column 15"),
    ('{"added_tokens": ', "EOF while parsing a value at line 1 column 17"),
    ('{"added_tokens": [], ', "EOF while parsing a value at line 1 column 21"),
    ('{"added_tokens": [], }', "trailing comma at line 1 column 22"),
    ('{"added_tokens": [] "model"', "expected `,` or `}` at line 1 column 21"),
    ('{"added_tokens" []}', "expected `:` at line 1 column 17"),
    ('{added_tokens: []}', "key must be a string at line 1 column 2"),
    ('{"added_tokens": [], "model": {"type": "x\\q', "invalid escape at line 1 column 43"),
    ('{"added_tokens": [], "model": {"type": "x', "EOF while parsing a string at line 1 column 41"),
    ('{"added_tokens": [], "model": {"type": "\t', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 41"),
    (tok_with_token('{"id": 0, "content": "\\ud800"}'), "unexpected end of hex escape at line 1 column 47"),
    (tok_with_token('{"id": 0, "content": "\\udc00"}'), "lone leading surrogate in hex escape at line 1 column 46"),
    (TOKENIZER[:-1] + ', "dropout": tru}', "expected ident at line 1 column 95"),
    (TOKENIZER[:-1] + ', "dropout": [1, 2,]}', "trailing comma at line 1 column 98"),
    (TOKENIZER[:-1] + ', "dropout": 01}', "invalid number at line 1 column 93"),
    # lines: a line feed starts line 2 at column 0; a CR is an ordinary column
    ('{\n  "added_tokens": 5\n}', "invalid type: integer `5`, expected a sequence at line 2 column 19"),
    ('{\r\n"added_tokens": 5}', "invalid type: integer `5`, expected a sequence at line 2 column 17"),
    ('{\n"added_tokens": [\n', "EOF while parsing a list at line 3 column 0"),
]


@pytest.mark.parametrize("text, message", TOKENIZER_FAULTS)
def test_tokenizer_file_faults(tmp_path, text, message):
    assert load_error(tmp_path, tokenizer=text) == TOK_PREFIX + message


M = '{"word_to_codepoint": '  # 22 bytes: the value starts at column 23

MAPPING_FAULTS = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("\ufeff" + MAPPING, "expected value at line 1 column 1"),
    ("{}", "missing field `word_to_codepoint` at line 1 column 2"),
    ("5", "invalid type: integer `5`, expected struct VonaMappingJson at line 1 column 1"),
    ("[]", "invalid length 0, expected struct VonaMappingJson with 1 element at line 1 column 2"),
    ("[{}, {}]", "trailing characters at line 1 column 6"),
    (M + "{}, " + M[1:] + "{}}", "duplicate field `word_to_codepoint` at line 1 column 45"),
    (M + "[]}", "invalid type: sequence, expected a map at line 1 column 22"),
    (M + "null}", "invalid type: null, expected a map at line 1 column 26"),
    (M + '{"a": "x"}}', 'invalid type: string "x", expected u32 at line 1 column 31'),
    # the found string is quoted with escapes
    (
        M + '{"a": "t\\"a\\\\b\\u0000\\n\\u0301"}}',
        'invalid type: string "t\\"a\\\\b\\0\\n\\u{301}", expected u32 at line 1 column 51',
    ),
    (M + '{"a": -5}}', "invalid value: integer `-5`, expected u32 at line 1 column 30"),
    (M + '{"a": -0}}', "invalid type: floating point `-0.0`, expected u32 at line 1 column 30"),
    (M + '{"a": 1e-7}}', "invalid type: floating point `0.0000001`, expected u32 at line 1 column 32"),
    (
        M + '{"a": 18446744073709551615}}',
        "invalid value: integer `18446744073709551615`, expected u32 at line 1 column 48",
    ),
    (
        M + '{"a": 18446744073709551616}}',
        "invalid type: floating point `18446744073709552000.0`, expected u32 at line 1 column 48",
    ),
    (
        M + '{"a": -9223372036854775808}}',
        "invalid value: integer `-9223372036854775808`, expected u32 at line 1 column 48",
    ),
    (
        M + '{"a": -9223372036854775809}}',
        "invalid type: floating point `-9223372036854776000.0`, expected u32 at line 1 column 48",
    ),
    (M + '{"a": 1e-400}}', "invalid type: floating point `0.0`, expected u32 at line 1 column 34"),
    (M + '{"a": -1e400}}', "number out of range at line 1 column 34"),
    (M + '{"a": 1' + "0" * 400 + "}}", "number out of range at line 1 column 429"),
    (
        M + '{"a": 1' + "0" * 300 + "}}",
        "invalid type: floating point `1" + "0" * 300 + ".0`, expected u32 at line 1 column 329",
    ),
    (M + '{"a": 01}}', "invalid number at line 1 column 30"),
    (M + '{"a": -}}', "invalid number at line 1 column 30"),
    (M + '{"a": -', "EOF while parsing a value at line 1 column 29"),
    (M + '{"a": 1.}}', "invalid number at line 1 column 31"),
    (M + '{"a": 1.', "EOF while parsing a value at line 1 column 30"),
    (M + '{"a": 1e', "EOF while parsing a value at line 1 column 30"),
    (M + '{"a": 1e+x}}', "invalid number at line 1 column 32"),
    (M + '{"a": x}}', "expected value at line 1 column 29"),
    # keys are decoded, surrogate pairs checked
    (M + '{"\\ud800": 1}}', "unexpected end of hex escape at line 1 column 31"),
    (M + '{"\\ud800\\x": 1}}', "unexpected end of hex escape at line 1 column 32"),
    (M + '{"\\ud800\\u0041": 1}}', "lone leading surrogate in hex escape at line 1 column 36"),
    (M + '{"\\ud800\\u00', "EOF while parsing a string at line 1 column 34"),
    (M + '{"\\u12": 1}}', "invalid escape at line 1 column 30"),
    (M + '{"\\u12', "EOF while parsing a string at line 1 column 28"),
    (M + '{"\\', "EOF while parsing a string at line 1 column 25"),
    (M + '{"a": 1,}}', "trailing comma at line 1 column 31"),
    (M + '{"a": 1 "b": 2}}', "expected `,` or `}` at line 1 column 31"),
    (M + '{"a": 1, 2}}', "key must be a string at line 1 column 32"),
    (MAPPING + " x", "trailing characters at line 1 column 27"),
]


@pytest.mark.parametrize("text, message", MAPPING_FAULTS)
def test_mapping_file_faults(tmp_path, text, message):
    assert load_error(tmp_path, mapping=text) == MAP_PREFIX + message


@pytest.mark.parametrize(
    "tokenizer, vocab_size",
    [
        (TOKENIZER, 1),
        # array forms; the optional booleans may be left off at the end
        ('[[[5, "<x>"]], ["BPE", {"a": 0}, [["a", "b"]]]]', 6),
        ('[[[5, "<x>", true]], {"type": "BPE", "vocab": {"a": 0}, "merges": []}]', 6),
        ('[[[5, "<x>", true, false, false, false, false]], ["BPE", {"a": 9}, []]]', 10),
        # fields in any order, unknown keys skipped at every level with any value
        (
            '{"version": "1.0", "model": {"merges": [["a", "b"]], "dropout": null, "vocab": {"a": 0, "b": 1},'
            ' "type": "BPE", "x": [{"y": [1e999, "\\ud800"]}]}, "added_tokens": [{"content": "<s>",'
            ' "extra": {"k": [true]}, "id": 7}], "pre_tokenizer": {"type": "ByteLevel"}}',
            8,
        ),
        # a repeated vocabulary key keeps its last value only
        (tok_with_model('{"type": "x", "vocab": {"a": 100, "a": 1}, "merges": []}'), 2),
        (tok_with_model('{"type": "x", "vocab": {"a": 1, "a": 100}, "merges": []}'), 101),
        # white space of all four kinds around everything
        ('\t\r\n {\n"added_tokens"\t:\r[ ]\n,\r"model" : ' + MODEL + " \n}\r\n\t ", 1),
    ],
)
def test_tokenizer_forms_that_load(tmp_path, tokenizer, vocab_size):
    assert load(tmp_path, tokenizer=tokenizer).vocab_size() == vocab_size


@pytest.mark.parametrize(
    "mapping",
    [
        MAPPING,
        '[{"foo": 65}]',
        '{"x": {"word_to_codepoint": 5}, "word_to_codepoint": {"foo": 65}, "y": [null]}',
        # the overwritten code point is never looked at
        '{"word_to_codepoint": {"foo": 55296, "foo": 65}}',
    ],
)
def test_mapping_forms_that_load(tmp_path, mapping):
    load(tmp_path, mapping=mapping)


def test_repeated_mapping_key_keeps_last_value(tmp_path):
    message = load_error(tmp_path, mapping='{"word_to_codepoint": {"foo": 65, "foo": 55296}}')
    assert message == 'invalid codepoint U+D800 for word "foo"'


@pytest.mark.parametrize("which", ["tokenizer", "mapping"])
def test_deep_skipped_values_load(tmp_path, which):
    depth = 1_000_000
    deep_arrays = "[" * depth + "]" * depth
    deep_objects = '{"k":' * depth + "0" + "}" * depth
    extra = ', "deep": ' + deep_arrays + ', "deeper": ' + deep_objects + "}"
    if which == "tokenizer":
        load(tmp_path, tokenizer=TOKENIZER[:-1] + extra)
    else:
        load(tmp_path, mapping=MAPPING[:-1] + extra)


def test_deep_unclosed_skipped_value_fails_cleanly(tmp_path):
    depth = 1_000_000
    text = TOKENIZER[:-1] + ', "deep": ' + "[" * depth
    message = load_error(tmp_path, tokenizer=text)
    assert message == TOK_PREFIX + f"EOF while parsing a list at line 1 column {len(text)}"

"""The generated Unicode class tables: up to date with their data, and the
classes as the token pattern sees them."""

import subprocess
import sys
from pathlib import Path

import pytest

from vona_tokenizer import _accel

GENERATOR = Path(__file__).resolve().parents[1] / "tools" / "gen_unicode_tables.py"


def test_committed_tables_match_the_generator():
    out = subprocess.run([sys.executable, str(GENERATOR), "--check"], capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr


@pytest.mark.parametrize(
    "text, expected",
    [
        # Letters and digits added in Unicode 16.0 continue a word.
        ("a\U00010d50\U00010d40\U00011bf0\U0001ccf0", ["a\U00010d50\U00010d40\U00011bf0\U0001ccf0"]),
        # An emoji added in 16.0 starts an emoji run, a skin tone extends it.
        ("\U0001fae9\U0001f3fd", ["\U0001fae9\U0001f3fd"]),
        # A mark, even a 16.0 one, belongs to no token.
        ("a\U00010d69b", ["a", "b"]),
        # White_Space is skipped, the ASCII separators 0x1C..0x1F are not white space.
        ("a\u3000\u2029\u0085b\x1e", ["a", "b", "\x1e"]),
        # Alphabetic symbols are \w but no letters; Other_Number is no word character but starts a word.
        ("\u24b6\u2160\u00bd", ["\u2160\u00bd"]),
        # Connector punctuation other than '_' is skipped; other punctuation is a symbol.
        ("\u2040\u2010", ["\u2010"]),
    ],
)
def test_class_spot_checks(text, expected):
    assert _accel.iter_token_strings(text) == expected

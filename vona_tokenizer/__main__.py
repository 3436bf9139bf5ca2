"""Command-line tool: ``vona-tokenizer`` (also ``python -m vona_tokenizer``)."""

from __future__ import annotations

import argparse
import json
import os
import sys
import threading
import time
from typing import Callable, Iterable, Sequence, TypeVar

T = TypeVar("T")

PROG = "vona-tokenizer"


class UserError(Exception):
    """A problem with the user's input: reported in one line, no traceback."""


def _read_text(path: str) -> str:
    try:
        if path == "-":
            data = sys.stdin.buffer.read()
        else:
            with open(path, "rb") as f:
                data = f.read()
    except OSError as e:
        raise UserError(f"{path}: {e.strerror or e}") from None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise UserError(f"{path}: not valid UTF-8 (byte {e.start})") from None


def _out(line: str) -> None:
    sys.stdout.write(line + "\n")


def _encoder(args: argparse.Namespace):
    from . import _accel

    try:
        return _accel.BPEEncoder(args.tokenizer, args.mapping)
    except OSError as e:
        raise UserError(f"cannot load tokenizer: {e}") from None


def _run_with_progress(label: str, work: Callable[[], T]) -> T:
    """Runs work (a native call that releases the interpreter lock) and shows
    the elapsed time on a terminal while it runs."""
    if not sys.stderr.isatty():
        return work()
    result: list[T] = []
    failure: list[BaseException] = []

    def target() -> None:
        try:
            result.append(work())
        except BaseException as e:  # handed back to the main thread
            failure.append(e)

    thread = threading.Thread(target=target, daemon=True)
    start = time.perf_counter()
    thread.start()
    while thread.is_alive():
        thread.join(0.2)
        sys.stderr.write(f"\r{label}... {time.perf_counter() - start:6.1f} s")
        sys.stderr.flush()
    sys.stderr.write("\r" + " " * (len(label) + 16) + "\r")
    if failure:
        raise failure[0]
    return result[0]


# ---- subcommands -------------------------------------------------------


def cmd_tokens(args: argparse.Namespace) -> int:
    from . import _accel

    for path in args.files:
        for token in _accel.iter_token_strings(_read_text(path)):
            _out(token)
    return 0


def cmd_split_identifier(args: argparse.Namespace) -> int:
    from . import _accel

    for name in args.names:
        _out(" ".join(_accel.split_identifier(name)))
    return 0


def cmd_scan(args: argparse.Namespace) -> int:
    from . import _accel

    found = False
    for path in args.files:
        shape = _accel.has_secret(_read_text(path))
        if shape is not None:
            found = True
            _out(f"{path}: {shape}")
    return 1 if found else 0


def _load_mapping(path: str):
    from . import _accel

    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
        entries = doc["word_to_codepoint"]
        word_to_pua = {word: chr(cp) for word, cp in entries.items()}
    except OSError as e:
        raise UserError(f"{path}: {e.strerror or e}") from None
    except (ValueError, KeyError, TypeError, AttributeError, OverflowError) as e:
        raise UserError(f"{path}: not a word_to_codepoint mapping file ({e})") from None
    pua_to_word = {ch: word for word, ch in word_to_pua.items()}
    return _accel.PreparedMapping(word_to_pua, pua_to_word)


def cmd_pretokenize(args: argparse.Namespace) -> int:
    from . import _accel

    prepared = _load_mapping(args.mapping)
    sys.stdout.write(_accel.pretokenize_to_string(_read_text(args.file), prepared))
    return 0


def cmd_encode(args: argparse.Namespace) -> int:
    encoder = _encoder(args)
    ids = encoder.encode(_read_text(args.file))
    _out(" ".join(str(i) for i in ids))
    return 0


def _parse_ids(words: Iterable[str]) -> list[int]:
    ids = []
    for word in words:
        try:
            value = int(word)
        except ValueError:
            raise UserError(f"not a token id: {word!r}") from None
        if not 0 <= value <= 0xFFFFFFFF:
            raise UserError(f"token id out of range: {word}")
        ids.append(value)
    return ids


def cmd_decode(args: argparse.Namespace) -> int:
    encoder = _encoder(args)
    words = args.ids if args.ids else sys.stdin.read().split()
    sys.stdout.write(encoder.decode(_parse_ids(words)))
    if sys.stdout.isatty():
        sys.stdout.write("\n")
    return 0


def cmd_count(args: argparse.Namespace) -> int:
    from . import _accel

    size = 0
    for path in args.shards:
        try:
            size += os.path.getsize(path)
        except OSError as e:
            raise UserError(f"{path}: {e.strerror or e}") from None
    start = time.perf_counter()
    try:
        counts = _run_with_progress(
            "counting",
            lambda: _accel.count_frequencies(args.shards, args.boost_weight, args.max_token_len),
        )
    except OSError as e:
        raise UserError(f"counting failed: {e}") from None
    seconds = time.perf_counter() - start
    top = sorted(counts.items(), key=lambda kv: (-kv[1], kv[0]))[: args.top]
    width = max((len(repr(t)) for t, _ in top), default=0)
    for token, n in top:
        _out(f"{token!r:<{width}}  {n}")
    total = sum(counts.values())
    rate = size / seconds / 1e6 if seconds > 0 else float("inf")
    _out(
        f"shards: {len(args.shards)}  bytes read: {size}  distinct tokens: {len(counts)}  "
        f"tokens: {total}  seconds: {seconds:.3f}  throughput: {rate:.1f} MB/s (compressed)"
    )
    if args.json:
        try:
            with open(args.json, "w", encoding="utf-8") as f:
                json.dump(counts, f, ensure_ascii=False)
        except OSError as e:
            raise UserError(f"{args.json}: {e.strerror or e}") from None
    return 0


# ---- entry point -------------------------------------------------------


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Tokenize, encode, count and scan text with the vona_tokenizer native core.",
    )
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    p = sub.add_parser("tokens", help="print the token strings of each file, one a line")
    p.add_argument("files", nargs="+", metavar="FILE", help="a file to read ('-' reads standard input)")
    p.set_defaults(run=cmd_tokens)

    p = sub.add_parser("split-identifier", help="print the word parts of each identifier")
    p.add_argument("names", nargs="+", metavar="NAME")
    p.set_defaults(run=cmd_split_identifier)

    p = sub.add_parser(
        "scan",
        help="print each file that holds a credential, with its kind; exit status 1 if any does",
    )
    p.add_argument("files", nargs="+", metavar="FILE", help="a file to read ('-' reads standard input)")
    p.set_defaults(run=cmd_scan)

    p = sub.add_parser("pretokenize", help="replace mapped words of a file by their private-use characters")
    p.add_argument("--mapping", required=True, metavar="MAPPING.json", help="a word_to_codepoint mapping file")
    p.add_argument("file", metavar="FILE", help="the file to read ('-' reads standard input)")
    p.set_defaults(run=cmd_pretokenize)

    for name, help_text in (
        ("encode", "print the token ids of a file (standard input by default)"),
        ("decode", "print the text of token ids (from the arguments or standard input)"),
    ):
        p = sub.add_parser(name, help=help_text)
        p.add_argument("--tokenizer", required=True, metavar="T", help="path of tokenizer.json")
        p.add_argument("--mapping", required=True, metavar="M", help="path of the word mapping file")
        if name == "encode":
            p.add_argument("file", nargs="?", default="-", metavar="FILE")
            p.set_defaults(run=cmd_encode)
        else:
            p.add_argument("ids", nargs="*", metavar="IDS")
            p.set_defaults(run=cmd_decode)

    p = sub.add_parser("count", help="count token frequencies over gzip JSON-lines shards")
    p.add_argument("shards", nargs="+", metavar="SHARD")
    p.add_argument("--boost-weight", type=float, default=0.0, metavar="W",
                   help="weight added to identifier parts (default 0: off)")
    p.add_argument("--max-token-len", type=_count, default=64, metavar="N",
                   help="longest token counted, in characters (default 64)")
    p.add_argument("--top", type=_count, default=20, metavar="K", help="how many tokens to print (default 20)")
    p.add_argument("--json", metavar="OUT", help="also write all counts to OUT as JSON")
    p.set_defaults(run=cmd_count)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except UserError as e:
        sys.stderr.write(f"{PROG}: error: {e}\n")
        return 1
    except BrokenPipeError:
        # Output closed early (e.g. piped into head): not an error of ours.
        try:
            sys.stdout = open(os.devnull, "w")
        except OSError:
            pass
        return 0


if __name__ == "__main__":
    sys.exit(main())

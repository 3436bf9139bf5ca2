"""vona_tokenizer: a fast native tokenizer core for text that includes source code."""

from . import _accel
from ._accel import *  # noqa: F401,F403  (the native names, listed in _accel.__all__)

__all__ = list(_accel.__all__)

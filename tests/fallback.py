"""Rebinding the module's names to equivalent objects that are not the originals,
so that every call takes the Python-level path (the fast paths' oracle)."""

import contextlib

import proofmark_core.verify as m

PATTERNS = ("NUM_RE", "EMPTY_RE", "ADDITIVE_RE", "READ_CODE_RE", "SHELL_WRITE_RE", "NEGATED_RE",
            "PREDICATE_RE")
FUNCTIONS = ("_additive", "_clean", "_atoms", "_kind_of", "_norm", "_variants", "_in", "_tokens",
             "_words_in")


class Proxy:
    """Forwards attribute reads and calls to the object it stands for."""

    def __init__(self, target):
        self._target = target

    def __getattr__(self, name):
        return getattr(self._target, name)

    def __call__(self, *args, **kwargs):
        return self._target(*args, **kwargs)


@contextlib.contextmanager
def forced_fallback(names=("re", "Path") + PATTERNS + FUNCTIONS):
    saved = {name: getattr(m, name) for name in names}
    try:
        for name, value in saved.items():
            setattr(m, name, Proxy(value))
        yield
    finally:
        for name, value in saved.items():
            setattr(m, name, value)

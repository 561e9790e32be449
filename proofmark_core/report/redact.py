"""Credentials masked in what a report shows of a log: a claim, its evidence, an excerpt.

A report is read by more people than the log was (a pull-request comment, a code
scanning alert, a CI artifact), so text shaped like a secret is replaced by
``[redacted]``. The shapes are specific enough that ordinary prose and code stay as
they are; a value that is only a reference to one (``$TOKEN``) is kept.
"""

from __future__ import annotations

import re

MASK = "[redacted]"

# A value that names a secret rather than holding it (a shell or template variable),
# or one masked already by the patterns of known shapes.
_REFERENCE = r"(?![$%]|\{\{|\[redacted\])"
_PATTERNS = (
    # A PEM block, or what an excerpt kept of one before its cut.
    r"-----BEGIN [A-Z0-9 ]*PRIVATE KEY( BLOCK)?-----.*?(?:-----END [A-Z0-9 ]*PRIVATE KEY( BLOCK)?-----|\Z)",
    r"\b(?:AKIA|ASIA)[0-9A-Z]{16}\b",
    r"\bgh[pousr]_[A-Za-z0-9]{36,}\b",
    r"\bgithub_pat_[A-Za-z0-9_]{22,}",
    r"\bsk-[A-Za-z0-9_-]{20,}",
    r"\bxox[baprs]-[A-Za-z0-9-]{10,}",
)
_SECRETS_RE = re.compile("|".join(f"(?:{pattern})" for pattern in _PATTERNS), re.S)
# Only the value goes: the scheme or key stays to say what was there.
_AUTHORIZATION_RE = re.compile(
    rf"(?i)(\bauthorization\s*[:=]\s*[\"']?(?:bearer|basic|token)\s+){_REFERENCE}[^\s\"',;]+")
_BEARER_RE = re.compile(rf"(?i)(\bbearer\s+){_REFERENCE}(?=[A-Za-z0-9._~+/=-]*[0-9])[A-Za-z0-9._~+/=-]{{16,}}")
_ASSIGNMENT_RE = re.compile(
    rf"(?i)(\b[A-Za-z0-9_]*(?:password|passwd|token|secret)\s*=\s*)"
    rf"{_REFERENCE}(\"[^\"\n]+\"|'[^'\n]+'|[^\s&;,'\")\]}}]+)")


# What each kind of secret cannot be without, looked for before its pattern is run:
# nearly all texts hold none, and a substring is found much faster than a pattern
# that may start anywhere.
_SECRET_MARKS = ("PRIVATE KEY", "AKIA", "ASIA", "ghp_", "gho_", "ghu_", "ghs_", "ghr_",
                 "github_pat_", "sk-", "xox")
_ASSIGNED_NAMES = ("password", "passwd", "token", "secret")


def may_hold_secret(text: str) -> bool:
    """Whether any of the patterns may match the text: when not, ``redact(text)`` is
    the text, and so is the redaction of any part of it."""
    return _has_secret_mark(text) or _may_hold_named(text.lower() if text.isascii() else None,
                                                     text)


def redact(text: str) -> str:
    """The text with every credential-looking part replaced by ``[redacted]``."""
    if _has_secret_mark(text):
        text = _SECRETS_RE.sub(MASK, text)
    # Outside ASCII, a pattern that ignores case matches letters that lowering does not
    # turn into the mark ("ſ" is an "s" to it): there every pattern is run.
    lowered = text.lower() if text.isascii() else None
    if lowered is None or "authorization" in lowered:
        text = _AUTHORIZATION_RE.sub(lambda found: found[1] + MASK, text)
    if lowered is None or "bearer" in lowered:
        text = _BEARER_RE.sub(lambda found: found[1] + MASK, text)
    if _may_hold_assignment(lowered, text):
        text = _ASSIGNMENT_RE.sub(lambda found: found[1] + MASK, text)
    return text


def _has_secret_mark(text: str) -> bool:
    for mark in _SECRET_MARKS:
        if mark in text:
            return True
    return False


def _may_hold_named(lowered: str | None, text: str) -> bool:
    return (lowered is None or "authorization" in lowered or "bearer" in lowered
            or _may_hold_assignment(lowered, text))


def _may_hold_assignment(lowered: str | None, text: str) -> bool:
    if lowered is None:
        return True
    return "=" in text and any(name in lowered for name in _ASSIGNED_NAMES)

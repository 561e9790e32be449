"""What a claim's own words say of the outcome: that something failed, or that it passed.

Only the agent's own words count: code spans and double-quoted text are left out.
A failure that the claim says it repaired ("fixed the test that failed") is no report
of failure, and neither is a count of none ("0 failed", "no tests failed").
"""

from __future__ import annotations

import re

QUOTED_RE = re.compile(r"`[^`]*`|\"[^\"\n]*\"|“[^”\n]*”")

FAILURE_RE = re.compile(
    r"\b(?:failed|fails|errored|errors? out|blocked|crashed|timed out"
    r"|could ?n[o']t|unable to|was not able to|were not able to"
    r"|(?:did|does|do|would|will|could) ?n[o']t (?:pass|run|work|succeed|complete|build"
    r"|compile|start|finish|install|apply)"
    r"|(?:is|are|was|were) ?n[o']t (?:passing|working|able)"
    # es, pt, fr, de, ru
    r"|fall[óo]|fallaron|fallan?|no (?:pude|se pudo|pasan?|funciona)|falh(?:ou|aram|am?)"
    r"|não (?:consegui|foi possível|passou|passam|funciona)|échou(?:é|ent|e)|n'a pas pu"
    r"|impossible de|fehlgeschlagen|schlug(?:en)? fehl|konnte(?:n)? nicht|nicht bestanden"
    r"|scheiterte|не удалось|не прош(?:ёл|ел|ли|ла)|упал[аи]?|не смог(?:ла|ли)?|ошибк[аойу])"
    # zh, ja, ko need no word boundary
    r"|失败|未能|无法|未通过|没有通过|报错|出错|失敗|できませんでした|できなかった"
    r"|通りませんでした|エラー|실패|못했|하지 못|할 수 없",
    re.I)
NO_FAILURE_RE = re.compile(
    r"\b(?:0|zero|no|none|nothing|without)\s+(?:\w+\s+){0,2}?(?:failed|failures?|errors?)\b"
    r"|\b0 (?:失败|失敗|실패)", re.I)
REPAIR_RE = re.compile(
    r"\b(?:fix(?:ed|es)?|resolved?|repaired|corrected|addressed|handled?)\b"
    r"|修复|修正|解决|修改了|直しました|고쳤|수정했|arregl[ée]|correg[ií]|behoben|korrigiert"
    r"|corrig[ée]|corrigi|исправил", re.I)
# Between a repair and a failure, these start a new statement ("fixed x, but y fails").
CLAUSE_BREAK_RE = re.compile(
    r"\b(?:but|however|although|though|still|yet|pero|aber|mais|mas|но)\b|[;:\u2014]"
    r"|但|しかし|하지만", re.I)
SUCCESS_RE = re.compile(
    r"\b(?:pass(?:es|ed|ing)?|succeed(?:s|ed)?|successful(?:ly)?|green|works|working"
    r"|built|compiles|compiled|clean|ok|okay"
    r"|pasan?|pasaron|exitos[oa]|funciona|bestanden|erfolgreich|funktioniert|réussi"
    r"|passent|fonctionne|passaram|passou|sucesso|прош(?:ёл|ел|ли|ла)|успешно|работает)\b"
    r"|通过|成功|通りました|パスしました|통과|성공", re.I)


def own_words(text: object) -> str:
    """The claim's text without code spans and quoted words."""
    return QUOTED_RE.sub(" ", text) if isinstance(text, str) else ""


def reports_failure(text: object) -> bool:
    """The claim says, in its own words, that something failed or could not run."""
    words = NO_FAILURE_RE.sub(" ", own_words(text))
    found = FAILURE_RE.search(words)
    if found is None:
        return False
    repairs = list(REPAIR_RE.finditer(words, 0, found.start()))
    return not repairs or CLAUSE_BREAK_RE.search(words, repairs[-1].end(), found.start()) is not None


def claims_success(text: object) -> bool:
    """The claim says, in its own words, that something passed or worked."""
    words = own_words(text)
    return not reports_failure(text) and SUCCESS_RE.search(FAILURE_RE.sub(" ", words)) is not None

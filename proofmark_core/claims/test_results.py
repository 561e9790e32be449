"""Which claims report test, build, lint or type-check results, and what they assert.

"All 116 tests passed", "389 tests passing, credo clean", "the build succeeded", "no type
errors", "测试全部通过": a claim of success, with the kinds of check it is about and any
count it gives. A claim that reports a failure, hedges, plans or denies is not read here
("tests should pass now", "all tests pass except one unrelated failure"): in doubt, the
engine's verdict stands.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

from proofmark_core.claims.runners import BUILD, LINT, TEST, TYPES, runner_of

CODE_SPAN_RE = re.compile(r"`+([^`]+)`+")
THOUSANDS_RE = re.compile(r"(?<=\d)[,\u202f\u00a0'](?=\d{3}\b)")
PLACEHOLDER = "X{}"
# A code span naming tests: `tests/aggregation`, `utils_tests.test_html`, `test_parse`.
TEST_NAME_RE = re.compile(r"(?:^|[\W_])(?:tests?|specs?)(?:$|[\W_])|^test|_test\b|Tests?\b")

# Success said by denying failure: taken out before looking for failure words.
CLEAN_PHRASES_RE = re.compile(
    r"\b(?:no|zero|0|without(?: any)?)\s+(?:new\s+)?(?:type[- ]?(?:check\s+)?|lint(?:ing)?\s+|mypy\s+|"
    r"compil(?:e|ation|er)\s+|build\s+)?(?:failures?|failed|failing(?: tests)?|errors?|issues?|"
    r"problems?|warnings?|offen[cs]es|complaints|regressions?)\b"
    r"|\b(?:none|nothing)\s+(?:failed|fail(?:s|ing)?)\b|\b0 failed\b"
    r"|没有(?:类型|编译|lint\s*)?(?:错误|失败|问题)|无(?:类型|编译)?(?:错误|失败)|0\s*个?(?:错误|失败)"
    r"|(?:型|コンパイル)?エラー(?:なし|は(?:あり|出)ませんでした|はありません|0件)|失敗(?:なし|0件)"
    r"|(?:타입\s*)?(?:오류|에러|실패)(?:가|는)?\s*없(?:음|습니다|어요)?"
    r"|sin (?:errores|fallos)(?: de tipo)?|keine (?:Typ)?(?:fehler|Fehlschläge)"
    r"|aucune? (?:erreur|échec)s?(?: de type)?|sans (?:erreur|échec)s?|sem (?:erros|falhas)(?: de tipo)?"
    r"|(?:нет|без) (?:ошибок|падений)(?: типов| типизации)?", re.IGNORECASE)

# A failure the claim says was fixed is no failure reported ("fixed the failing test").
FIXED_RE = re.compile(r"\b(?:fixed|resolved|addressed|corrected|repaired|removed)\b[^.;,]{0,40}?"
                      r"\b(?:errors?|failures?|failing(?: tests?)?|crash(?:es)?|broken(?: tests?)?)\b",
                      re.IGNORECASE)
# A claim with any of these is a hedge, a plan, a denial or a report of failure.
NOT_SUCCESS_RE = re.compile(
    r"\b(?:should|will|would|could|might|may|must|need(?:s|ed)? to|going to|expected to|"
    r"let(?:'s| me| us)|once|if|unless|when(?:ever)?|whether|hopefully|probably|likely|"
    r"not|no longer|never|cannot|unable|n't|except|apart from|other than|besides|unrelated|"
    r"pre-?existing|fail(?:s|ed|ing|ures?)?|errors?|errored|broken|break(?:s|ing)?|"
    r"crash(?:es|ed|ing)?|flaky|timed? ?out|hangs?|skip(?:ping)? (?:the )?tests|"
    r"(?:some|most|several|a few|half|many) (?:of (?:the |its )?)?(?:tests|specs)|"
    r"(?:verif(?:y|ies)|checks?|ensures?|confirms?|asserts?|make sure) that|to-?do)\b|'ll\b|\?|⏳|\[ \]"
    r"|(?:^|[|:;]\s*)(?:ensure|make sure|verify|check|confirm|run)\b"
    r"|失败|失敗|未通过|不通过|没有?通过|未能|无法|尚未|应该|将会|予定|はず|ません|ない(?:です)?[。.]?$|できなかった"
    r"|실패|않|못|예정"
    r"|\b(?:no|nicht|pas|não|nunca|jamais|nie)\b|\bне\b|\bfall(?:a|an|aron|ó)\b|fehlgeschlagen"
    r"|échou|\bfalh|упал|провал|ошибк|\bdebería|\bsollte|\bdevrait|\bdeve(?:ria)?\b|\bдолжн",
    re.IGNORECASE)

PASS_WORLD = (r"通过|通過|成功|パス(?:し|する)?|通り|通っ|통과|성공|"
              r"pasan|pasaron|pasa|pasando|exitos[ao]s?|exitosamente|correctamente|"
              r"bestanden|bestehen|durch(?:gelaufen)?|grün|erfolgreich|fehlerfrei|sauber|"
              r"passent|passé|réussi(?:e|ssent|s)?|au vert|propre|"
              r"passam|passaram|passando|sucesso|verde|limpo|limpio|"
              r"проход\w*|прош\w*|пройден\w*|успешн\w*|зел[её]н\w*|чист\w*")
PASS_WORDS = r"pass(?:es|ed|ing)?|green|succe(?:ed(?:s|ed)?|ssful(?:ly)?)|ok(?:ay)?|all good"
PASS_BY_KIND = {
    TEST: rf"(?:{PASS_WORDS}|{PASS_WORLD}|0 failures)",
    BUILD: rf"(?:{PASS_WORDS}|clean(?:ly)?|works|fine|{PASS_WORLD})",
    LINT: rf"(?:{PASS_WORDS}|clean|happy|no (?:issues|warnings|errors|problems)|{PASS_WORLD})",
    TYPES: rf"(?:{PASS_WORDS}|clean|no (?:issues|errors)|{PASS_WORLD})",
}
PASS = rf"(?:{PASS_WORDS}|clean(?:ly)?|no issues|{PASS_WORLD})"
# After "passes", an object means the word is a verb of the code ("passes `x` to f").
OBJECT_AFTER_RE = re.compile(r"^\s*(?:X\d|a|an|the|it|them|this|that|these|through|along|in a|to)\b",
                             re.IGNORECASE)

SUBJECTS = {
    TEST: r"(?<!benchmark )(?:tests?|test suites?|suites?|specs|test cases?|doctests?|"
          r"unit tests?|integration tests?|"
          r"测试(?:用例)?|測試|テスト|테스트|pruebas?|testes|тест\w*)",
    BUILD: r"(?:builds?|built|compil(?:e[sd]?|ation|ing)|构建|編譯|编译|ビルド|コンパイル|빌드|컴파일|"
           r"compilación|kompiliert|kompilierung|compilação|сборка|компиляци\w*|собирается)",
    LINT: r"(?:lint(?:s|ing|er)?|ruff|eslint|flake8|pylint|credo|clippy|rubocop|golangci-lint|"
          r"shellcheck|biome|stylelint|リント|린트)",
    TYPES: r"(?:type[- ]?check(?:s|ing|er)?|types? check|mypy|pyright|tsc|typescript|dialyzer|"
           r"类型检查|型チェック|타입\s*체크)",
}
# Word edges for Latin and Cyrillic words; Chinese and Japanese words have none.
LATIN_EDGE_BEFORE = r"(?<![A-Za-z0-9_\-\u00c0-\u024f\u0400-\u04ff])"
LATIN_EDGE_AFTER = r"(?![A-Za-z0-9_\-\u00c0-\u024f\u0400-\u04ff])"
# Subject, then its predicate within the same clause.
SUBJECT_THEN_PASS = {
    kind: re.compile(rf"{LATIN_EDGE_BEFORE}(?:{subject}){LATIN_EDGE_AFTER}[^.;!?。；！？]{{0,40}}?"
                     rf"{LATIN_EDGE_BEFORE}(?:{PASS_BY_KIND[kind]}){LATIN_EDGE_AFTER}", re.IGNORECASE)
    for kind, subject in SUBJECTS.items()
}
# A runner's code span and its predicate: "`credo` clean", "`mypy src`: no issues".
SPAN_THEN_PASS_RE = re.compile(rf"X(?P<n>\d+)[\s:,-]+(?:(?:is|are|was|now|all|still|again|reports?|"
                               rf"shows?|says)\s+){{0,2}}(?:{PASS}){LATIN_EDGE_AFTER}", re.IGNORECASE)
# Predicates that name their kind on their own.
KIND_PHRASES = {
    TEST: re.compile(r"\b\d+ (?:passed|passing)\b|^\W*0 failures\b|"
                     r"\bpass(?:es|ed)? (?:all )?(?:the |its )?(?:\d+ )?(?:existing |relevant )?tests\b|"
                     r"\ball (?:\d+ )?(?:green|pass(?:ed|ing)?)\b(?! (?:X\d|a|an|the|it|to)\b)|"
                     r"测试全部通过|全部通过|すべて(?:成功|パス)|모두 통과", re.IGNORECASE),
    TYPES: re.compile(r"\bno type errors\b|\btypes? (?:are |is )?clean\b|"
                      r"类型错误|型エラー|타입 (?:오류|에러)|errores de tipo|typfehler|"
                      r"erreurs? de type|erros de tipo|ошибок типов", re.IGNORECASE),
}

# Every claim this module reads holds one of these stems (lower-cased); the others, most
# claims, are not read further.
SUCCESS_STEMS = (
    "pass", "green", "succe", "ok", "clean", "good", "work", "fine", "happy", "issue", "error",
    "fail", "problem", "warning", "offen", "complaint", "regression",
    "通过", "通過", "成功", "パス", "通り", "通っ", "통과", "성공", "pasa", "exitos", "correctamente",
    "bestanden", "bestehen", "durch", "grün", "erfolgreich", "fehler", "sauber", "réussi",
    "vert", "propre", "sucesso", "verde", "limp", "проход", "прош", "пройден", "успешн",
    "зелен", "зелён", "чист", "错误", "失败", "エラー", "失敗", "오류", "에러", "실패", "erreur",
    "échec", "erro", "falha", "fallo", "ошиб", "падени",
)
SUCCESS_STEM_RE = re.compile("|".join(map(re.escape, SUCCESS_STEMS)))


COUNT_PATTERNS = tuple(re.compile(pattern, re.IGNORECASE) for pattern in (
    # "all 12 tests pass", "all of the 157 tests", "all 15 SessionLive tests"
    r"\ball (?:of )?(?:the |its |our )?(?P<count>\d+)\s+(?P<words>(?:[\w-]+\s+){0,2}?)"
    r"(?:tests?|specs?|test cases?|examples|checks|doctests)\b",
    # "12/12 tests pass", "12 of 12 tests passed"
    r"\b(?P<count>\d+)\s*(?:/|of|out of)\s*(?P<total>\d+)\s+(?P<words>(?:[\w-]+\s+){0,2}?)"
    r"(?:tests?|specs?|test cases?|examples)\b",
    # "389 tests passing", "87 tests, 0 failures", "116 tests passed"
    rf"\b(?P<count>\d+)\s+(?P<words>(?:[\w-]+\s+){{0,2}}?)(?:tests?|specs?|test cases?|examples)\b"
    rf"(?=[^.;!?]{{0,30}}?{PASS_BY_KIND[TEST]})",
    # "116 passed", "41 passing": a runner's own words
    r"\b(?P<count>\d+) (?:passed|passing)\b",
    # "12 个测试全部通过", "テスト12件", "12개 테스트", "les 12 tests", "все 12 тестов"
    r"(?P<count>\d+)\s*(?:个|個|项|項|件|개|つの)?\s*(?:的\s*)?(?:测试|測試|テスト|테스트|pruebas|testes|тест\w*)",
    r"(?:测试|測試|テスト|테스트)\D{0,3}?(?P<count>\d+)\s*(?:个|個|项|項|件|개)",
))
# "the login test now passes", "a regression test that passes": one test, not the suite.
ONE_TEST_RE = re.compile(r"\b(?:the|a|an|this|that|new|my|each|one)\s+(?:[\w-]+\s+){0,2}?"
                         r"(?:test|spec|test case)\b(?!\s+(?:suite|run|files?)\b)", re.IGNORECASE)
SOME_TESTS_RE = re.compile(r"\b(?:first|last|other|remaining)\s+(?:[\w-]+\s+)?(?:tests?|specs?|ones|two|three|few)\b",
                           re.IGNORECASE)
ALL_TESTS_RE = re.compile(r"\b(?:all|every|entire|whole|full)\b|\btests\b|\bsuite\b", re.IGNORECASE)
SKIPPED_RE = re.compile(r"\b(\d+) (?:skipped|pending|ignored)\b", re.IGNORECASE)
# Words before a count that make it a count of some tests, not of the run's.
PART_WORDS = frozenset({"new", "added", "regression", "additional", "more", "extra", "failing",
                        "previously", "targeted", "relevant", "related", "affected"})
WHOLE_WORDS = frozenset({"unit", "integration", "e2e", "existing", "total", "the", "automated",
                         "python", "backend", "frontend", "rust", "go", "js", "ts"})
WORK_BEFORE_RE = re.compile(r"\b(?:add(?:ed|s)?|wr(?:ote|ite|itten)|creat(?:ed|es)|new|includ(?:ed|es|ing))\b"
                            r"[^.;]{0,30}$", re.IGNORECASE)
# A clause that gives the reason for the rest of the sentence; one that opens the
# sentence ends at a comma, unless a count follows it ("Since 87 tests, 0 failures, ...").
REASON_RE = re.compile(r"\b(?:since|because|as shown by)\s+", re.IGNORECASE)
REASON_END_RE = re.compile(r",\s+(?!\d)")
# A code span that is the subject of the claim's predicate: "`aggregation` tests passed",
# "tests in `tests/api` pass", "`test_parse` now passes".
SCOPE_PATTERNS = tuple(re.compile(pattern, re.IGNORECASE) for pattern in (
    r"X(?P<n>\d+)\s+(?:[\w-]+\s+){0,2}?(?:tests?|specs?|suite|test cases?)\b",
    r"\b(?:tests?|specs?|suite|test cases?)\s+(?:(?:in|for|of|from|under)\s+)?X(?P<n>\d+)",
    rf"X(?P<n>\d+)\s+(?:(?:now|all|also|still|again|both)\s+)*(?:{PASS_WORDS})\b",
))


@dataclass(frozen=True, slots=True)
class TestClaim:
    """What a claim of success asserts: the kinds of check, and for tests any count."""

    kinds: frozenset[str]
    count: int | None = None      # how many tests passed
    part: bool = False            # it is about some of the tests only (its count too)
    total: int | None = None      # "12/12": of how many
    skipped: int | None = None
    commands: tuple[str, ...] = ()  # runner command lines the claim names
    scope: tuple[str, ...] = ()     # what the claim says the tests were of


def read_test_claim(text: str, targets: list[str]) -> TestClaim | None:
    """The claim read as a report of passing checks, or None when it is not one."""
    text = _reported_pass(text)
    targets = [target for target in targets if target in text]
    lowered = text.lower()
    if not SUCCESS_STEM_RE.search(lowered):
        return None
    spans = CODE_SPAN_RE.findall(text)
    prose = _with_placeholders(text, spans)
    plain = THOUSANDS_RE.sub("", CODE_SPAN_RE.sub(lambda m: m.group(1), text).replace("**", ""))
    if NOT_SUCCESS_RE.search(CLEAN_PHRASES_RE.sub(" ", FIXED_RE.sub(" ", prose))):
        return None
    commands = tuple(t for t in dict.fromkeys([*spans, *targets]) if _is_command(t))
    kinds = _kinds(prose, plain, spans, commands)
    tests_named: list[str] = []
    if not kinds and _says(PASS_BY_KIND[TEST], prose):
        # "`utils_tests.test_html` passed", "ran `test_fix.py` and it passed"
        tests_named = [span for span in spans if span not in commands and TEST_NAME_RE.search(span)]
        kinds = {TEST} if tests_named else kinds
    if not kinds:
        return None
    count, part, total = _count(plain) if TEST in kinds else (None, False, None)
    one_test = TEST in kinds and (bool(SOME_TESTS_RE.search(prose)) or (
        bool(ONE_TEST_RE.search(prose)) and not ALL_TESTS_RE.search(prose)))
    skipped = SKIPPED_RE.search(plain)
    scope = tuple(dict.fromkeys([
        *(spans[int(match.group("n"))] for pattern in SCOPE_PATTERNS
          for match in pattern.finditer(prose)
          if int(match.group("n")) < len(spans) and spans[int(match.group("n"))] not in commands),
        *tests_named]))
    return TestClaim(frozenset(kinds), count, part or one_test, total,
                     int(skipped.group(1)) if skipped and TEST in kinds else None, commands, scope)


def _reported_pass(text: str) -> str:
    """The reason clause of the sentence when only it reports a result ("It's no longer
    needed, since the suite passed", "Since `x` passed, my change broke nothing"): what
    the rest hedges or denies is not said of the result. Otherwise the whole sentence."""
    reason = REASON_RE.search(text)
    if reason is None:
        return text
    clause = text[reason.end():]
    if not text[:reason.start()].strip(" *_-"):
        clause = REASON_END_RE.split(clause, maxsplit=1)[0]
    rest = text[:reason.start()] + text[reason.end() + len(clause):]
    if SUCCESS_STEM_RE.search(clause.lower()) and not SUCCESS_STEM_RE.search(rest.lower()):
        return clause
    return text


def _is_command(target: str) -> bool:
    """A runner's command line; a bare path such as ``tests/test_x.py`` names a file,
    unless it is started as ``./tests/unit_tests``."""
    bare_path = not re.search(r"\s", target.strip()) and ("/" in target or "." in target)
    return runner_of(target) is not None and (not bare_path or target.startswith("./"))


def _with_placeholders(text: str, spans: list[str]) -> str:
    """The text with its code spans numbered (X0, X1 ...), so that words inside code
    neither make nor unmake a claim."""
    numbers = iter(range(len(spans)))
    return CODE_SPAN_RE.sub(lambda _: PLACEHOLDER.format(next(numbers)), text).replace("**", "")


def _kinds(prose: str, plain: str, spans: list[str], commands: tuple[str, ...]) -> set[str]:
    """The kinds of check the claim says passed: from its words ("tests pass"), or from
    the runner it names when that is what passes ("Ran `mypy src`: no issues")."""
    kinds = {kind for kind, pattern in SUBJECT_THEN_PASS.items() if _passes(pattern, prose)}
    kinds |= {kind for kind, pattern in KIND_PHRASES.items() if pattern.search(plain)}
    named = [spans[int(m.group("n"))] for m in SPAN_THEN_PASS_RE.finditer(prose)
             if int(m.group("n")) < len(spans)]
    if not kinds and _says(PASS, prose):
        named += commands
    for command in named:
        found = runner_of(command)
        if found is not None:
            kinds |= found.kinds
    return kinds


def _says(words: str, text: str) -> bool:
    return re.search(rf"{LATIN_EDGE_BEFORE}(?:{words}){LATIN_EDGE_AFTER}", text, re.IGNORECASE) is not None


def _passes(pattern: re.Pattern[str], text: str) -> bool:
    return any(not OBJECT_AFTER_RE.match(text[match.end():]) for match in pattern.finditer(text))


def _count(plain: str) -> tuple[int | None, bool, int | None]:
    for pattern in COUNT_PATTERNS:
        match = pattern.search(plain)
        if match is None:
            continue
        words = set((match.groupdict().get("words") or "").lower().split())
        part = bool(words - WHOLE_WORDS) or bool(words & PART_WORDS) or bool(
            WORK_BEFORE_RE.search(plain[:match.start()]))
        total = match.groupdict().get("total")
        return int(match.group("count")), part, int(total) if total else None
    return None, False, None

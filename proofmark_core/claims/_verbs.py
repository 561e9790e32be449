"""The verbs of work: each one's forms, and the kind of work it reports.

A sentence's prose (its targets masked, see _targets) is searched for these words with
find_verbs; _wording decides what the sentence does with each one it finds.
"""

from __future__ import annotations

import re
from functools import cache
from typing import Literal

VerbClass = Literal["run", "check", "file", "external", "work"]

# Every verb of work, one per line: its base form first, then its other forms. The class
# says what kind of claim the verb makes. This vocabulary holds every word of
# proofmark_core.extract.WORK_VERB_RE, which the engine's mention test uses.
_VERBS: dict[VerbClass, str] = {
    # Ran a program: a command line, or a script wherever it stands ("`repro.py` ran").
    "run": """
        run runs ran running
        rerun reruns reran rerunning re-run re-runs re-ran re-running
        execute executes executed executing
        invoke invokes invoked invoking
        launch launches launched launching
        start starts started starting
        install installs installed installing
    """,
    # Checked by running something: a command line, or a script named after the verb
    # ("verified with `repro.py`"; not "fixed `a.py` and verified it").
    "check": """
        test tested testing
        retest retested retesting
        verify verifies verified verifying
        validate validates validated validating
        confirm confirms confirmed confirming
        check checked checking
        build built building
        compile compiles compiled compiling
        lint lints linted linting
        pass passes passed passing
        succeed succeeds succeeded succeeding
    """,
    # Changed the content of files.
    "file": """
        add adds added adding
        change changes changed changing
        fix fixes fixed fixing
        update updates updated updating
        create creates created creating
        remove removes removed removing
        delete deletes deleted deleting
        rename renames renamed renaming
        move moves moved moving
        write writes wrote writing written
        rewrite rewrites rewrote rewriting rewritten
        replace replaces replaced replacing
        edit edits edited editing
        modify modifies modified modifying
        refactor refactors refactored refactoring
        implement implements implemented implementing
        patch patches patched patching
        insert inserts inserted inserting
        append appends appended appending
        introduce introduces introduced introducing
        adjust adjusts adjusted adjusting
        tweak tweaks tweaked tweaking
        revert reverts reverted reverting
        restore restores restored restoring
        save saves saved saving
        generate generates generated generating
        extend extends extended extending
        bump bumps bumped bumping
        configure configures configured configuring
        enable enables enabled enabling
        disable disables disabled disabling
        merge merges merged merging
        set sets setting
        raise raises raised raising
        lower lowers lowered lowering
        increase increases increased increasing
        decrease decreases decreased decreasing
        convert converts converted converting
        migrate migrates migrated migrating
        extract extracts extracted extracting
        document documented documenting
        initialize initializes initialized initializing
        initialise initialises initialised initialising
        scaffold scaffolded scaffolding
    """,
    # Acted outside the workspace: messages, pushes, deployments.
    "external": """
        post posts posted posting
        send sends sent sending
        email emails emailed emailing
        notify notifies notified notifying
        reply replies replied replying
        comment comments commented commenting
        push pushes pushed pushing
        deploy deploys deployed deploying
        publish publishes published publishing
        upload uploads uploaded uploading
        announce announces announced announcing
        ping pings pinged pinging
    """,
    # Work of no particular kind. A reproduction may well fail, and should; the others
    # act outside the workspace when their object is a pull request or an issue.
    "work": """
        commit commits committed committing
        reproduce reproduces reproduced reproducing
        open opens opened opening
        reopen reopens reopened reopening
        file files filed filing
        submit submits submitted submitting
        close closes closed closing
        approve approves approved approving
        review reviews reviewed reviewing
    """,
}

# The work verbs of closing messages in other languages, in forms that report work done:
# the past and the perfect participle (Spanish, German, French, Portuguese, Russian), and
# "X passes" where a language says it so. Matched as whole words, lower-cased.
_FOREIGN_VERBS: dict[VerbClass, str] = {
    "run": """
        ejecuté ejecutado ejecutados ejecutamos corrí instalé instalado lancé
        ausgeführt gestartet installiert
        exécuté exécutés lancé lancés installé installés
        executei executado executados rodei instalei instalado
        запустил запустила запустили выполнил выполнила выполнили установил установила
        установили запущен запущены выполнен выполнено установлен установлены
    """,
    "check": """
        probé probado verifiqué verificado comprobé comprobado compilé compilado pasan
        pasaron
        getestet geprüft überprüft verifiziert kompiliert gebaut bestanden bestehen
        testé testés vérifié vérifiés compilé réussi réussissent passent
        testei testado verifiquei verificado compilei compilado passam passaram
        протестировал протестировала проверил проверила проверили собрал собрала
        скомпилировал проходят прошли пройдены проверено
    """,
    "file": """
        agregué agregado agregada agregados añadí añadido añadida añadidos modifiqué
        modificado modificada modificados actualicé actualizado actualizada actualizados
        corregí corregido corregida corregidos creé creado creada creados eliminé
        eliminado eliminada eliminados borré borrado cambié cambiado renombré renombrado
        moví movido escribí escrito implementé implementado refactoricé refactorizado
        reemplacé reemplazado
        hinzugefügt geändert aktualisiert behoben korrigiert erstellt angelegt gelöscht
        entfernt umbenannt verschoben geschrieben implementiert ersetzt ergänzt angepasst
        ajouté ajoutée ajoutés ajoutées modifié modifiée modifiés modifiées corrigé
        corrigée corrigés créé créée créés créées supprimé supprimée supprimés supprimées
        renommé renommée déplacé déplacée écrit écrite implémenté implémentée remplacé
        remplacée actualisé actualisée
        adicionei adicionado adicionada adicionados modifiquei modificado modificada
        atualizei atualizado atualizada corrigi corrigido corrigida criei criado criada
        removi removido removida excluí excluído apaguei renomeei renomeado movi movido
        escrevi escrito implementei implementado substituí substituído alterei alterado
        добавил добавила добавили изменил изменила изменили обновил обновила обновили
        исправил исправила исправили создал создала создали удалил удалила удалили
        переименовал переместил написал написала реализовал реализовала заменил
        добавлен добавлена добавлено добавлены изменён изменено изменены обновлён
        обновлено обновлены исправлен исправлено исправлены создан создана создано
        созданы удалён удалено удалены
    """,
    "external": """
        publiqué publicado envié enviado
        veröffentlicht gesendet gepusht
        publié envoyé poussé
        publiquei publicado enviei enviado
        опубликовал отправил отправлено запушил
    """,
    "work": """
        reproduje reproducido
        committet reproduziert
        reproduit
        reproduzi reproduzido
        воспроизвёл воспроизвел закоммитил
    """,
}

# Chinese, Japanese and Korean write no spaces between words: a verb of work is found
# where it stands, with the mark of work done that these languages put before or after it
# (Chinese 已/了/完成, Japanese しました/済み, Korean 했습니다/완료).
_CJK_STEMS: dict[VerbClass, str] = {
    "run": "运行 執行 执行 安装 安裝 実行 インストール 실행 설치",
    "check": "测试 測試 验证 驗證 编译 構建 构建 テスト 確認 検証 ビルド 테스트 확인 검증 빌드",
    "file": "添加 新增 修改 更新 修复 修復 创建 創建 删除 刪除 移除 重命名 编写 写入 实现 實現 "
            "替换 追加 修正 変更 作成 削除 実装 書き換え 추가 수정 업데이트 변경 생성 삭제 제거 구현 작성",
    "external": "推送 发布 發布 プッシュ 公開 푸시 배포",
    "work": "提交 コミット 커밋",
}
_CJK_DONE_BEFORE = ("已经", "已", "都已")
_CJK_DONE_AFTER = ("了", "完成", "完毕", "成功", "しました", "しています", "済み", "済", "完了",
                   "했습니다", "했어요", "했다", "하였습니다", "했고", "완료", "됐습니다", "되었습니다")
# "Passed" on its own: 通过 ends a clause ("`git diff --check` 通过"); before more Chinese
# it means "by means of" (通过修改 ...).
_CJK_PASSED_RE = r"(?:已经?)?通过了?(?![\u4e00-\u9fff])|合格しました|パスしました|通過しました|통과했습니다|통과"

# Base forms that are nouns far more often than verbs once a sentence is under way
# ("a regression test", "the build", "type check", "module comment", "a new file").
_NOUN_LIKE_BASES = frozenset(
    {"test", "check", "build", "lint", "post", "email", "reply", "comment", "ping", "file", "review"}
)
# Said of tests and commands, "passes" and "succeeds" report a result anywhere.
_RESULT_FORMS = frozenset({"passes", "succeeds"})


def _vocabulary() -> tuple[dict[str, VerbClass], frozenset[str], frozenset[str]]:
    """Each form's class; the base forms; and the forms that report work only where a
    sentence starts: the present ("adds") and the gerund ("adding"), which elsewhere
    describe what code does ("`f` adds it", "simulates running"), and noun-like bases."""
    classes: dict[str, VerbClass] = {}
    bases: set[str] = set()
    leading: set[str] = set(_NOUN_LIKE_BASES)
    for verb_class, lines in _VERBS.items():
        for line in lines.strip().splitlines():
            base, *others = line.split()
            bases.add(base)
            classes.update(dict.fromkeys([base, *others], verb_class))
            present = {base + "s", base + "es", base[:-1] + "ies"}
            leading.update(form for form in others if form in present or form.endswith("ing"))
    return classes, frozenset(bases), frozenset(leading - _RESULT_FORMS)


def _cjk_vocabulary() -> dict[str, VerbClass]:
    """Each Chinese, Japanese or Korean form of a verb of work done, and its class."""
    forms: dict[str, VerbClass] = {}
    for verb_class, stems in _CJK_STEMS.items():
        for stem in stems.split():
            forms.update(dict.fromkeys([*(mark + stem for mark in _CJK_DONE_BEFORE),
                                        *(stem + mark for mark in _CJK_DONE_AFTER)], verb_class))
    return forms


CLASS_OF, BASE_FORMS, LEADING_FORMS = _vocabulary()
CLASS_OF.update((form, verb_class) for verb_class, forms in _FOREIGN_VERBS.items() for form in forms.split())
_CJK_CLASS_OF = _cjk_vocabulary()
# Base forms that are also the participle: "have run", "was set".
PARTICIPLE_BASES = frozenset({"run", "rerun", "re-run", "set"})
# A whole word; a hyphen joins words into one ("non-test", "build-time", "re-run").
_WORD_RE = re.compile(r"(?<![\w-])[^\W\d_]+(?:-[^\W\d_]+)*(?![\w-])")
_CJK_RE = re.compile(r"[\u3040-\u30ff\u3400-\u9fff\uac00-\ud7af]")


@cache
def _cjk_verb_re() -> re.Pattern[str]:
    """The Chinese, Japanese and Korean forms, longest first, so that 已经修改 is found
    whole, not as 修改 after 已经; compiled when a text first holds such a script (the
    pattern is long: compiling it is a visible part of a Stop hook's start)."""
    forms = sorted(map(re.escape, _CJK_CLASS_OF), key=len, reverse=True)
    return re.compile("|".join(forms) + "|" + _CJK_PASSED_RE)


def find_verbs(prose: str) -> list[re.Match[str]]:
    """The words of the vocabulary in a text, in order."""
    found = [word for word in _WORD_RE.finditer(prose) if word.group().lower() in CLASS_OF]
    if _CJK_RE.search(prose):
        found = sorted([*found, *_cjk_verb_re().finditer(prose)], key=re.Match.start)
    return found


# Verbs that act outside the workspace when their object is a pull request, an issue and
# the like ("opened a PR", "filed issue #12", "updated the ticket").
_EXTERNAL_OBJECT_RE = re.compile(
    r"(?:open|opened|opens|opening|reopened|create|created|creates|creating|file|filed|files|"
    r"filing|submit|submitted|submits|raise|raised|close|closed|merge|merged|update|updated|"
    r"approve|approved|review|reviewed)\s+(?:[\w#-]+\s+){0,2}?"
    r"(?:PRs?|pull\s+requests?|merge\s+requests?|MRs?|issues?|tickets?|bug\s+reports?|"
    r"releases?(?!\s+notes)|gists?)\b",
    re.I,
)
# Commenting out code is an edit, not a comment posted somewhere.
_COMMENTED_OUT_RE = re.compile(r"commented\s+out\b", re.I)


def verb_class(prose: str, verb: re.Match[str]) -> VerbClass:
    """The kind of work a verb found by find_verbs reports, its object considered."""
    if _COMMENTED_OUT_RE.match(prose, verb.start()):
        return "file"
    if _EXTERNAL_OBJECT_RE.match(prose, verb.start()):
        return "external"
    form = verb.group().lower()
    return CLASS_OF.get(form) or _CJK_CLASS_OF.get(form, "check")  # else a form of "passed"

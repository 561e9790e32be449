"""Start-up of proofmark_core.verify: what the namespace holds, and import-state behaviour.

Anything that imports the module afresh or changes sys.modules runs in a child
interpreter, so that it cannot disturb the module the other tests use.
"""

import importlib.machinery
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

import proofmark_core
import proofmark_core.extract as extract
import proofmark_core.verify as m

PACKAGE_DIR = pathlib.Path(proofmark_core.__file__).parent
MODULE_FILE = pathlib.Path(m.__file__)

NAMESPACE = [
    "__builtins__", "json", "re", "Path", "WORK_VERB_RE", "READ_TOOLS",
    "NUM_RE", "EMPTY_RE", "ADDITIVE_RE", "READ_CODE_RE", "SHELL_WRITE_RE", "NEGATED_RE",
    "_additive", "_clean", "_atoms", "_kind_of", "_norm", "_variants", "_in", "_tokens",
    "_words_in", "PREDICATE_RE", "verify", "__test__",
]
FUNCTIONS = [n for n in NAMESPACE if n == "verify" or (n.startswith("_") and not n.endswith("__"))]
CASELESS = {"EMPTY_RE", "ADDITIVE_RE", "NEGATED_RE", "PREDICATE_RE"}
CASE_SENSITIVE = {"NUM_RE", "READ_CODE_RE", "SHELL_WRITE_RE"}
MODULE_DOC = ("Verdicts: each claim's literals against what the run wrote, ran and saw. "
              "Pure code, no model.")


def run_child(code, cwd, *flags):
    """Runs `code` in a fresh interpreter whose first import path is `cwd`; returns stdout."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    proc = subprocess.run(
        [sys.executable, "-B", *flags, "-c", textwrap.dedent(code)],
        cwd=cwd, env=env, capture_output=True, text=True, timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def copy_package(dest, module_file=MODULE_FILE):
    """A private copy of the package (sources and the built module) under `dest`."""
    pkg = dest / "proofmark_core"
    pkg.mkdir()
    for source in PACKAGE_DIR.glob("*.py"):
        shutil.copy(source, pkg / source.name)
    shutil.copy(module_file, pkg / MODULE_FILE.name)
    return pkg


@pytest.fixture
def package(tmp_path):
    return copy_package(tmp_path)


# --- the namespace after a successful import -------------------------------

def test_fresh_namespace_lists_dunders_then_the_bound_names_in_order(package):
    out = run_child("""
        import json, proofmark_core.verify as m
        print(json.dumps(list(vars(m))))
    """, package.parent)
    names = json.loads(out)
    first = names.index("__builtins__")
    assert names[first:] == NAMESPACE
    assert all(n.startswith("__") and n.endswith("__") for n in names[:first])
    assert {"__name__", "__doc__", "__package__", "__loader__", "__file__"} <= set(names[:first])
    assert "__path__" not in names and "__all__" not in names


def test_module_attributes_come_from_the_import_machinery():
    assert m.__name__ == "proofmark_core.verify"
    assert m.__package__ == "proofmark_core"
    assert m.__doc__ == MODULE_DOC
    assert m.__file__ == m.__spec__.origin
    assert m.__loader__ is m.__spec__.loader
    assert MODULE_FILE.name.endswith(tuple(importlib.machinery.EXTENSION_SUFFIXES))


def test_imported_names_are_the_interpreters_own_objects():
    import builtins

    assert m.__builtins__ is builtins
    assert m.json is sys.modules["json"]
    assert m.re is sys.modules["re"]
    assert m.Path is pathlib.Path
    assert m.WORK_VERB_RE is extract.WORK_VERB_RE


def test_read_tools_is_a_mutable_set_of_the_three_read_only_tools():
    assert type(m.READ_TOOLS) is set
    assert m.READ_TOOLS == {"read_file", "search_files", "skill_view"}


def test_test_table_is_an_empty_dict():
    assert type(m.__test__) is dict and m.__test__ == {}


@pytest.mark.parametrize("name", sorted(CASELESS | CASE_SENSITIVE))
def test_patterns_are_compiled_str_patterns_with_only_their_own_flag(name):
    pattern = getattr(m, name)
    assert isinstance(pattern, re.Pattern) and isinstance(pattern.pattern, str)
    expected = re.UNICODE | (re.IGNORECASE if name in CASELESS else 0)
    assert pattern.flags == expected


def test_patterns_go_through_the_namespaces_re_compile_with_a_positional_flag(package):
    out = run_child("""
        import json, re
        calls = []
        real = re.compile
        def spy(*args, **kwargs):
            calls.append([args[0], list(args[1:]), sorted(kwargs)])
            return real(*args, **kwargs)
        re.compile = spy
        import proofmark_core.verify as m
        re.compile = real
        print(json.dumps([[c for c in calls if c[0] == getattr(m, n).pattern]
                          for n in ("NUM_RE", "EMPTY_RE", "PREDICATE_RE")]))
    """, package.parent)
    num, empty, predicate = json.loads(out)
    assert [c[1:] for c in num] == [[[], []]]
    assert [c[1:] for c in empty] == [[[int(re.I)], []]]
    assert [c[1:] for c in predicate] == [[[int(re.I)], []]]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_are_one_callable_type_of_the_module(name):
    f = getattr(m, name)
    assert callable(f) and type(f) is type(m.verify)
    assert type(f) not in (type(len), type(test_test_table_is_an_empty_dict))


def test_importing_the_package_does_not_load_the_extension(package):
    (package / "extract.py").write_text("raise RuntimeError('broken sibling')\n")
    out = run_child("""
        import sys, proofmark_core
        print(sorted(n for n in sys.modules if n.startswith("proofmark_core")))
    """, package.parent)
    assert out.strip() == "['proofmark_core']"


# --- import state ----------------------------------------------------------

def test_reimport_after_removal_returns_the_same_module_with_rebindings_kept(package):
    out = run_child("""
        import importlib, sys
        import proofmark_core.verify as m
        table = m.__test__
        m.READ_TOOLS = {"mine"}
        m.NUM_RE = None
        del sys.modules["proofmark_core.verify"]
        again = importlib.import_module("proofmark_core.verify")
        assert again is m and sys.modules["proofmark_core.verify"] is m
        assert m.READ_TOOLS == {"mine"} and m.NUM_RE is None and m.__test__ is table
        del sys.modules["proofmark_core.verify"]
        import proofmark_core.verify as third
        assert third is m
        print("ok")
    """, package.parent)
    assert out.strip() == "ok"


# Shared by the failing-start-up tests: import, report the failure, keep its namespace.
FAIL_THEN_REPORT = """
    import sys, traceback
    try:
        import proofmark_core.verify
    except BaseException as e:
        failure = e
    else:
        raise SystemExit("the import succeeded")
    tb, failed_ns = failure.__traceback__, None
    while tb is not None:
        if tb.tb_frame.f_code.co_name == "init proofmark_core.verify":
            failed_ns = tb.tb_frame.f_globals
        tb = tb.tb_next
    assert failed_ns is not None, traceback.format_exception(failure)
    assert "proofmark_core.verify" not in sys.modules
    print(type(failure).__name__, str(failure))
"""


@pytest.mark.parametrize("sibling, expected", [
    ("import re\nOTHER_RE = re.compile('x')\n", "ImportError cannot import name WORK_VERB_RE"),
    ("import no_such_module_for_proofmark\n",
     "ModuleNotFoundError No module named 'no_such_module_for_proofmark'"),
    ("raise ValueError('sibling fails')\n", "ValueError sibling fails"),
])
def test_broken_sibling_fails_the_import_with_an_init_traceback_entry(package, sibling, expected):
    (package / "extract.py").write_text(sibling)
    out = run_child(FAIL_THEN_REPORT, package.parent)
    assert out.strip() == expected


def test_fixed_sibling_lets_the_next_import_run_the_whole_start_up(package):
    good = (package / "extract.py").read_text()
    (package / "extract.py").write_text("import re\n")
    out = run_child(FAIL_THEN_REPORT + f"""
    import json, pathlib
    assert "WORK_VERB_RE" not in failed_ns and "json" in failed_ns
    pathlib.Path({str(package / "extract.py")!r}).write_text({good!r})
    del sys.modules["proofmark_core.extract"]
    import proofmark_core.verify as m
    assert vars(m) is not failed_ns
    assert m.WORK_VERB_RE is sys.modules["proofmark_core.extract"].WORK_VERB_RE
    names = list(vars(m))
    print(json.dumps(names[names.index("__builtins__"):]))
    """, package.parent)
    first, namespace = out.strip().split("\n")
    assert first == "ImportError cannot import name WORK_VERB_RE"
    assert json.loads(namespace) == NAMESPACE


@pytest.mark.parametrize("stale_entry, expected", [
    ("types.SimpleNamespace(WORK_VERB_RE=marker)", "marker"),
    ("types.SimpleNamespace()", "ImportError cannot import name WORK_VERB_RE"),
])
def test_an_existing_sibling_entry_is_used_directly(package, stale_entry, expected):
    # The file on disk would fail: only the entry in sys.modules can supply the name.
    (package / "extract.py").write_text("raise ValueError('file imported')\n")
    out = run_child(f"""
        import sys, types
        marker = object()
        sys.modules["proofmark_core.extract"] = {stale_entry}
        try:
            import proofmark_core.verify as m
        except ImportError as e:
            print("ImportError", e)
        else:
            print("marker" if m.WORK_VERB_RE is marker else m.WORK_VERB_RE)
    """, package.parent)
    assert out.strip() == expected


def test_a_second_interpreter_is_refused(package):
    out = run_child("""
        import os, proofmark_core.verify
        code = f"import sys; sys.path.insert(0, {os.getcwd()!r}); import proofmark_core.verify"
        try:
            import _interpreters as api
            interp, run = api.create("legacy"), api.exec
        except ImportError:
            try:
                import _xxsubinterpreters as api
            except ImportError:
                raise SystemExit(print("no sub-interpreters"))
            interp, run = api.create(), api.run_string
        try:
            print(run(interp, code))
        except Exception as e:
            print(e)
        api.destroy(interp)
    """, package.parent)
    if out.strip() == "no sub-interpreters":
        pytest.skip("this interpreter offers no sub-interpreters")
    assert ("Interpreter change detected - this module can only be loaded into one "
            "interpreter per process.") in out


# --- a build that records another interpreter version ----------------------

# .ci/run builds it with -DPROOFMARK_BUILD_VERSION=2.7 and names it here.
MISMATCH_MODULE = os.environ.get("PROOFMARK_MISMATCH_MODULE", "")
MISMATCH_MESSAGE = ("compile time Python version 2.7 of module 'proofmark_core.verify' "
                    "does not match runtime version {0.major}.{0.minor}").format(sys.version_info)
needs_mismatch_build = pytest.mark.skipif(
    not MISMATCH_MODULE.endswith(MODULE_FILE.name),
    reason="no module built for another version for this interpreter",
)


@pytest.fixture
def mismatched_package(tmp_path):
    return copy_package(tmp_path, pathlib.Path(MISMATCH_MODULE))


@needs_mismatch_build
def test_version_mismatch_warns_once_and_the_import_completes(mismatched_package):
    out = run_child("""
        import warnings
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import proofmark_core.verify as m
        assert callable(m.verify)
        for w in caught:
            print(w.category.__name__, w.message)
    """, mismatched_package.parent)
    assert out.strip() == "RuntimeWarning " + MISMATCH_MESSAGE


@needs_mismatch_build
def test_version_mismatch_fails_the_import_under_an_error_filter(mismatched_package):
    out = run_child(FAIL_THEN_REPORT + """
    import warnings
    warnings.simplefilter("ignore")
    import proofmark_core.verify as m
    print(callable(m.verify))
    """, mismatched_package.parent, "-W", "error::RuntimeWarning")
    assert out.strip().split("\n") == ["RuntimeWarning " + MISMATCH_MESSAGE, "True"]

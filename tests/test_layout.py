"""The package's imports point down the stages of a run, never into another package's
private module, and never round in a cycle."""

import ast
import importlib.util
from pathlib import Path

import pytest

import proofmark_core

PACKAGE = Path(proofmark_core.__file__).parent
# Lowest first; a module may import its own stage and those before it.
STAGES = [
    {"verify", "_turn", "_command_lines", "extract", "verdicts"},  # compiled code, typed results
    {"records"}, {"logs"}, {"claims"}, {"rules"}, {"run"}, {"report"}, {"hook"},
    {"commands", "cli", "api", "ray", "__main__", "__init__"},  # the command line, the faces
]


def module_name(path):
    parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def stage(module):
    parts = module.split(".")
    top = parts[1] if len(parts) > 1 else "__init__"
    return next(index for index, names in enumerate(STAGES) if top in names)


def imported(source, module, is_package):
    """(line, module) for every import of the package's own modules, including those in
    functions and under TYPE_CHECKING, and import_module calls with a literal name."""
    package = module if is_package else module.rpartition(".")[0]
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            yield from ((node.lineno, alias.name) for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = importlib.util.resolve_name("." * node.level + (node.module or ""), package)
            for alias in node.names:
                # `from package import module` imports the module, anything else the package.
                yield node.lineno, f"{base}.{alias.name}" if is_module(f"{base}.{alias.name}") \
                    else base
        elif isinstance(node, ast.Call) and getattr(node.func, "attr", None) == "import_module" \
                and node.args and isinstance(node.args[0], ast.Constant):
            yield node.lineno, node.args[0].value


def is_module(name):
    path = PACKAGE.parent.joinpath(*name.split("."))
    return path.with_suffix(".py").exists() or (path / "__init__.py").exists() \
        or any(path.parent.glob(f"{path.name}.*.so"))


def private_to(target):
    """The package that a private module (``_name``) belongs to, or None."""
    parts = target.split(".")
    for index, part in enumerate(parts[1:], 1):
        if part.startswith("_"):
            return ".".join(parts[:index])
    return None


def problems(sources):
    """What is wrong with the imports of the modules {name: (source, is_package)}."""
    found, edges = [], {}
    for module, (source, is_package) in sources.items():
        for line, target in imported(source, module, is_package):
            if target.split(".")[0] != "proofmark_core" or target == module:
                continue
            edges.setdefault(module, set()).add(target)
            if stage(target) > stage(module):
                found.append(f"{module}:{line}: imports {target}, a later stage")
            owner = private_to(target)
            if owner is not None and not f"{module}.".startswith(f"{owner}."):
                found.append(f"{module}:{line}: imports {target}, private to {owner}")
    return found + cycles(edges)


def cycles(edges):
    found, done = [], set()

    def visit(module, path):
        if module in path:
            found.append("cycle: " + " -> ".join([*path[path.index(module):], module]))
            return
        if module in done:
            return
        for target in sorted(edges.get(module, ())):
            visit(target, [*path, module])
        done.add(module)

    for module in sorted(edges):
        visit(module, [])
    return found


def package_sources():
    return {module_name(path): (path.read_text(encoding="utf-8"), path.name == "__init__.py")
            for path in sorted(PACKAGE.rglob("*.py"))}


def test_imports_point_down_the_stages_and_into_no_private_module_of_another_package():
    sources = package_sources()
    assert len(sources) > 50 and "proofmark_core.run.units" in sources
    assert problems(sources) == []


@pytest.mark.parametrize("module, source, problem", [
    ("proofmark_core.records.input", "from proofmark_core.run.units import Where\n",
     "proofmark_core.records.input:1: imports proofmark_core.run.units, a later stage"),
    ("proofmark_core.logs._file", "def f():\n    from proofmark_core.claims import extract\n",
     "proofmark_core.logs._file:2: imports proofmark_core.claims.extract, a later stage"),
    ("proofmark_core.run.sources", "from proofmark_core.logs._file import LogFile\n",
     "proofmark_core.run.sources:1: imports proofmark_core.logs._file, private to "
     "proofmark_core.logs"),
    ("proofmark_core.report.table", "import importlib\n"
     "importlib.import_module('proofmark_core.hook.decision')\n",
     "proofmark_core.report.table:2: imports proofmark_core.hook.decision, a later stage"),
])
def test_an_import_up_or_into_a_private_module_is_reported(module, source, problem):
    sources = package_sources()
    sources[module] = (source, False)
    assert problem in problems(sources)


def test_a_cycle_is_reported():
    sources = package_sources()
    sources["proofmark_core.report.terminal"] = ("import proofmark_core.report.table\n", False)
    assert any(found.startswith("cycle: ") and "proofmark_core.report.terminal" in found
               for found in problems(sources))

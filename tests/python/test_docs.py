"""Every Python example of the documentation and the README runs.

The fenced ```python blocks of a page run in order, in one namespace (a page reads as one
session: later blocks use what earlier ones built), with `__name__ == "__main__"`, in a
temporary working directory, so files the examples write land there. An HTML comment
`<!-- docs-test: skip REASON -->` on the line before a fence keeps that one block from running;
it is meant for the rare block that needs something a test machine does not have (a remote
cluster). A block importing an optional package that is not installed skips the rest of its
page with the package's name.
"""

from __future__ import annotations

import ast
import importlib.util
import re
import textwrap
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGES = sorted((ROOT / "docs").rglob("*.md")) + [ROOT / "README.md"]

FENCE = re.compile(r"^(?P<indent>[ \t]*)(?P<ticks>`{3,}|~{3,})(?P<info>[^\n`]*)$")
SKIP = re.compile(r"<!--\s*docs-test:\s*skip\b\s*(?P<why>.*?)\s*-->")


@dataclass
class Block:
    line: int  # the 1-based line of the block's first code line in its page
    language: str
    code: str
    skip: str | None


def blocks(text: str) -> list[Block]:
    """The fenced blocks of a Markdown text, with the language of each and its skip marker."""
    lines = text.splitlines()
    found = []
    k = 0
    while k < len(lines):
        opening = FENCE.match(lines[k])
        if not opening:
            k += 1
            continue
        indent, ticks = opening["indent"], opening["ticks"]
        language = opening["info"].strip().split(" ")[0].lower() if opening["info"].strip() else ""
        previous = next((lines[p] for p in range(k - 1, -1, -1) if lines[p].strip()), "")
        marker = SKIP.search(previous)
        end = k + 1
        while end < len(lines) and not (
            lines[end].strip().startswith(ticks[0] * len(ticks)) and not lines[end].strip().strip(ticks[0])
        ):
            end += 1
        if end == len(lines):
            raise AssertionError(f"line {k + 1}: a fence that is never closed")
        body = [line[len(indent) :] if line.startswith(indent) else line.lstrip() for line in lines[k + 1 : end]]
        found.append(Block(k + 2, language, textwrap.dedent("\n".join(body)) + "\n", marker["why"] or "no reason given" if marker else None))
        k = end + 1
    return found


def imported_modules(code: str) -> set[str]:
    modules = set()
    for node in ast.walk(ast.parse(code)):
        if isinstance(node, ast.Import):
            modules.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            modules.add(node.module.split(".")[0])
    return modules


def page_id(page: Path) -> str:
    return str(page.relative_to(ROOT))


PYTHON_PAGES = [page for page in PAGES if any(b.language == "python" for b in blocks(page.read_text(encoding="utf-8")))]


@pytest.mark.parametrize("page", PYTHON_PAGES, ids=page_id)
def test_examples_of_the_page_run(page, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("MPLBACKEND", "Agg")
    namespace = {"__name__": "__main__"}
    name = page_id(page)
    for block in blocks(page.read_text(encoding="utf-8")):
        if block.language != "python" or block.skip:
            continue
        missing = sorted(m for m in imported_modules(block.code) if importlib.util.find_spec(m) is None)
        if missing:
            pytest.skip(f"{name}, line {block.line} on: needs {', '.join(missing)}")
        # Blank lines in front keep the page's own line numbers in a traceback.
        code = compile("\n" * (block.line - 1) + block.code, name, "exec")
        exec(code, namespace)


def test_every_page_keeps_its_examples_visible_to_this_test():
    # A block written as ```py or ```python3 would be highlighted but never run here.
    hidden = [
        f"{page_id(page)}, line {b.line}: ```{b.language}"
        for page in PAGES
        for b in blocks(page.read_text(encoding="utf-8"))
        if b.language in ("py", "python3", "py3", "pycon", "ipython")
    ]
    assert hidden == []


def test_skipped_blocks_are_rare_and_give_a_reason():
    runnable = skipped = 0
    reasons = []
    for page in PAGES:
        for b in blocks(page.read_text(encoding="utf-8")):
            if b.language != "python":
                continue
            if b.skip:
                skipped += 1
                reasons.append(b.skip)
            else:
                runnable += 1
    assert runnable >= 30
    assert skipped * 10 <= runnable
    assert "no reason given" not in reasons


def test_the_readme_opens_with_the_two_commands():
    first = next(b for b in blocks((ROOT / "README.md").read_text(encoding="utf-8")))
    commands = [line.split("#")[0].strip() for line in first.code.splitlines() if line.strip()]
    assert commands[:2] == ["make demo", "make test"]


def test_the_block_reader():
    text = textwrap.dedent(
        """\
        intro
        ```python
        a = 1
        ```
        - item

            <!-- docs-test: skip needs a cluster -->
            ```python
            if a:
                b = 2
            ```
        ````markdown
        ```python
        not a block of its own
        ```
        ````
        ```sh
        make test
        ```
        """
    )
    found = blocks(text)
    assert [(b.line, b.language, b.skip) for b in found] == [
        (3, "python", None),
        (9, "python", "needs a cluster"),
        (13, "markdown", None),
        (18, "sh", None),
    ]
    assert found[1].code == "if a:\n    b = 2\n"
    assert found[2].code == "```python\nnot a block of its own\n```\n"


def test_every_class_and_method_of_the_module_has_a_docstring_in_the_stubs():
    # The native docstrings are text signatures; the words live in the stub file, where
    # editors and the API reference read them.
    import kestrum

    documented: dict[str, str | None] = {}
    for node in ast.parse((ROOT / "python" / "kestrum.pyi").read_text(encoding="utf-8")).body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            documented[node.name] = ast.get_docstring(node)
        if isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    documented[f"{node.name}.{item.name}"] = ast.get_docstring(item)
    public = set()
    for name in kestrum.__all__:
        public.add(name)
        value = getattr(kestrum, name)
        if isinstance(value, type):
            public.update(f"{name}.{member}" for member in vars(value) if not member.startswith("_"))
    missing = sorted(name for name in public if not documented.get(name))
    assert missing == [], f"give these a docstring in python/kestrum.pyi: {missing}"


def test_the_site_lists_every_page():
    # A page left out of the navigation would be built but found by no reader.
    listed = set(re.findall(r":\s*(\S+\.md)\s*$", (ROOT / "mkdocs.yml").read_text(encoding="utf-8"), re.M))
    pages = {str(page.relative_to(ROOT / "docs")) for page in (ROOT / "docs").rglob("*.md")}
    assert sorted(pages - listed) == [], "add these pages to the nav of mkdocs.yml"
    assert sorted(listed - pages) == []

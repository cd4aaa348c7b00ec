#!/usr/bin/env python3
"""Runs the code blocks of README.md and docs/*.md as a reader would copy them.

    run_doc_blocks.py SOURCE_DIR BIN_DIR WORK_DIR

Every fenced block in a language that runs (sh, bash, shell, console,
python, sql) carries a marker, an HTML comment on the line before its fence,
which a rendered page does not show:

    <!-- run -->                 run it; status 0 expected
    <!-- run; writes F... -->    run it without the files F set up beforehand
                                 (the block makes them)
    <!-- run; status N -->       run it; status N expected
    <!-- not run: REASON -->     never run, for the stated reason

A ```text block marked <!-- output --> right after a run block is that
block's expected standard output. In it a line "..." stands for any number
of lines, and "..." within a line for any text (paths, times).

A block in a language that runs without a marker, a fence without a
language and an indented code block are errors, so that no command in the
docs goes unchecked unnoticed. A console block runs as shell too: write it
without prompts.

Each run block runs in a directory of its own holding examples/sample.vxt
(the shipped sample) and generated traces under the names the docs use
(trace.vxt, a.vxt, ...; see FIXTURES), with BIN_DIR first on PATH. Shell
blocks run under bash -e: every command must succeed, and a pipeline's
status is its last command's, as in the reader's shell. Python blocks run
with the python3 that runs this script, SQL blocks in the sqlite3 shell on
trace.db (sqlite3 -bail: the first failing statement fails the block).
"""
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path

RUNNERS = {
    "sh": ["bash", "-e"],
    "bash": ["bash", "-e"],
    "shell": ["bash", "-e"],
    "console": ["bash", "-e"],
    "python": [sys.executable],
    "python3": [sys.executable],
    "sql": ["sqlite3", "-bail", "trace.db"],
}

# name -> command that makes it in the fixture directory (in this order).
# trace.vxt is what docs/vxtrace.md has a reader generate first.
FIXTURES = [
    ("trace.vxt", "vxtrace generate -o trace.vxt --events 100000 --seed 7"),
    ("trace.db", "vxtrace sqlite -o trace.db trace.vxt"),
    ("a.vxt", "vxtrace generate -o a.vxt --events 20000 --seed 1"),
    ("b.vxt", "vxtrace generate -o b.vxt --events 20000 --seed 2"),
    ("receiver1.vxt", "cp a.vxt receiver1.vxt"),
    ("receiver2.vxt", "cp b.vxt receiver2.vxt"),
    ("run1.vxt", "cp a.vxt run1.vxt"),
    ("run2.vxt", "cp b.vxt run2.vxt"),
]

TIMEOUT_S = 60
MARKER = re.compile(r"^<!--\s*(.*?)\s*-->$")
FENCE = re.compile(r"^\s*(```+|~~~+)\s*([^\s`]*)")  # also inside a list item
LIST_ITEM = re.compile(r"^\s*([-*+]|\d+[.)])\s")


@dataclass
class Block:
    path: str
    line: int
    language: str
    text: str
    marker: str  # the HTML comment right before the fence, or ""
    output: "Block | None" = None


@dataclass
class Plan:
    kind: str  # "run" or "not run"
    writes: list = field(default_factory=list)
    status: int = 0
    reason: str = ""


def read_blocks(path, shown_name):
    """The fenced blocks of a markdown file, and the errors of its layout."""
    blocks, errors = [], []
    lines = Path(path).read_text(encoding="utf-8").split("\n")
    i = 0
    previous = ""  # the last non-blank line outside blocks
    while i < len(lines):
        line = lines[i]
        fence = FENCE.match(line)
        if fence:
            end = next((j for j in range(i + 1, len(lines))
                        if lines[j].strip().startswith(fence.group(1))), len(lines))
            marker = MARKER.match(previous.strip())
            indent = len(line) - len(line.lstrip())
            blocks.append(Block(shown_name, i + 1, fence.group(2).lower(),
                                "".join(text[indent:] + "\n" for text in lines[i + 1:end]),
                                marker.group(1) if marker else ""))
            if not fence.group(2):
                errors.append(f"{shown_name}:{i + 1}: a fence without a language")
            previous = lines[end] if end < len(lines) else ""
            i = end + 1
            continue
        if is_indented_code(line, lines[i - 1] if i else "", previous):
            errors.append(f"{shown_name}:{i + 1}: an indented code block; "
                          "fence it with its language")
        if line.strip():
            previous = line
        i += 1
    return blocks, errors


def is_indented_code(line, line_before, previous):
    """Four spaces after a blank line that ends a paragraph at the margin
    (inside a list, indentation continues the item)."""
    return (line.startswith("    ") and line.strip() and not line_before.strip()
            and previous and not previous.startswith((" ", "|"))
            and not LIST_ITEM.match(previous) and not MARKER.match(previous.strip()))


def plan_of(block):
    words = block.marker
    if words.startswith("not run:") and words[len("not run:"):].strip():
        return Plan("not run", reason=words[len("not run:"):].strip())
    if words == "run" or words.startswith("run;"):
        plan = Plan("run")
        for option in words[len("run"):].split(";")[1:]:
            name, _, value = option.strip().partition(" ")
            if name == "writes":
                plan.writes = value.split()
            elif name == "status" and value.isdigit():
                plan.status = int(value)
            else:
                return None
        return plan
    return None


def attach_outputs(blocks, errors):
    """Pairs each output block with the run block before it."""
    kept = []
    for block in blocks:
        if block.marker != "output":
            kept.append(block)
            continue
        before = kept[-1] if kept else None
        if (block.language != "text" or before is None or before.path != block.path
                or before.language not in RUNNERS or before.output is not None):
            errors.append(f"{block.path}:{block.line}: an output block must be a text block "
                          "right after a run block")
        else:
            before.output = block
    return kept


def output_matches(expected, actual):
    pattern = []
    for line in expected.rstrip("\n").split("\n"):
        if line == "...":
            pattern.append(r"(?:[^\n]*\n)*?")
        else:
            pattern.append(".*?".join(map(re.escape, line.split("..."))) + r"\n")
    return re.fullmatch("".join(pattern), actual.rstrip("\n") + "\n") is not None


def make_fixtures(fixture_dir, source_dir, env):
    (fixture_dir / "examples").mkdir(parents=True)
    shutil.copy(source_dir / "examples" / "sample.vxt", fixture_dir / "examples")
    for name, command in FIXTURES:
        subprocess.run(command, shell=True, cwd=fixture_dir, env=env, check=True,
                       stdout=subprocess.DEVNULL)


def lay_out(fixture_dir, directory, writes):
    shutil.copytree(fixture_dir, directory)
    for name in writes:
        (directory / name).unlink(missing_ok=True)


def run_block(block, plan, directory, env):
    """None when the block did as the doc says, else why not."""
    try:
        done = subprocess.run(RUNNERS[block.language], input=block.text, text=True,
                              cwd=directory, env=env, capture_output=True, timeout=TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return f"still running after {TIMEOUT_S} s"
    if done.returncode != plan.status:
        return (f"status {done.returncode}, {plan.status} expected\n"
                f"--- stderr:\n{done.stderr}--- stdout (head):\n{done.stdout[:2000]}")
    if block.output and not output_matches(block.output.text, done.stdout):
        return (f"the output differs from the doc's (line {block.output.line})\n"
                f"--- actual:\n{done.stdout[:6000]}")
    return None


def main():
    source_dir, bin_dir, work_dir = (Path(arg).resolve() for arg in sys.argv[1:4])
    documents = [source_dir / "README.md"] + sorted((source_dir / "docs").glob("*.md"))
    blocks, errors = [], []
    for path in documents:
        found, wrong = read_blocks(path, str(path.relative_to(source_dir)))
        blocks += found
        errors += wrong
    blocks = attach_outputs(blocks, errors)
    runnable = [block for block in blocks if block.language in RUNNERS]
    plans = {}
    for block in runnable:
        plan = plan_of(block)
        if plan is None:
            errors.append(f"{block.path}:{block.line}: a {block.language} block without "
                          "<!-- run --> or <!-- not run: REASON --> before it")
        plans[id(block)] = plan

    shutil.rmtree(work_dir, ignore_errors=True)
    env = dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}")
    fixture_dir = work_dir / "fixtures"
    make_fixtures(fixture_dir, source_dir, env)

    ran = not_run = 0
    for number, block in enumerate(runnable):
        plan = plans[id(block)]
        if plan is None:
            continue
        where = f"{block.path}:{block.line}"
        if plan.kind == "not run":
            not_run += 1
            print(f"-- not run {where}: {plan.reason}")
            continue
        ran += 1
        checked = " (output checked)" if block.output else ""
        print(f"== run {where} [{block.language}]{checked}")
        print("   " + block.text.rstrip("\n").replace("\n", "\n   "))
        directory = work_dir / f"block-{number}"
        lay_out(fixture_dir, directory, plan.writes)
        failure = run_block(block, plan, directory, env)
        if failure:
            errors.append(f"{where}: {failure}")
            print(f"   FAILED: {failure.splitlines()[0]}")
        else:
            shutil.rmtree(directory)

    print(f"\n{ran} blocks run, {not_run} not run (each with its reason), "
          f"{len(errors)} errors")
    if not errors:
        shutil.rmtree(work_dir)
    for error in errors:
        print(f"ERROR {error}", file=sys.stderr)
    return 1 if errors or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""readme_examples.py README BUILD [--demo]: what the README shows, made
again. The README shows a command (an indented block that runs
../../host/saverpack from build/win32/aquarium) and, in the next indented
block, what it prints; this runs the command on copies of the sample's
built files and fails, showing both, when what it prints is not what the
README shows. Timings are masked: they are the only thing that may differ.
With --demo it runs make demo's script instead and compares what the user
saw and what was installed with the README's story; that needs Wine, so it
exits 77 (a skip) where Wine cannot run, unless E2E_REQUIRE_WINE is set."""

import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

TIMING = re.compile(r"\d+\.\d+ s$")
SAMPLE = ["aquarium.scr", "sprites.bmp", "background.bmp", "aquarium.ico"]


def indented_blocks(text):
    """Each run of lines indented by four spaces, as (first line number, lines)."""
    blocks, current, start = [], [], 0
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("    ") or (current and line == ""):
            if not current:
                start = number
            current.append(line[4:])
            continue
        if current:
            while current and current[-1] == "":
                current.pop()
            blocks.append((start, current))
            current = []
    if current:
        blocks.append((start, current))
    return blocks


def worked_examples(text):
    """The blocks that create an installer in the sample's folder, each with
    the block after it, which shows what it printed."""
    blocks = indented_blocks(text)
    for i, (start, lines) in enumerate(blocks[:-1]):
        if lines and lines[0] == "cd build/win32/aquarium" and "saverpack create" in "\n".join(lines):
            yield start, lines[1:], blocks[i + 1][1]


def run(command_lines, saverpack, sample_dir):
    command = " ".join(line.rstrip("\\").strip() for line in command_lines)
    argv = shlex.split(command)
    if argv[0] != "../../host/saverpack":
        raise SystemExit(f"readme_examples: cannot run {argv[0]}")
    with tempfile.TemporaryDirectory() as work:
        for name in SAMPLE:
            if (sample_dir / name).exists():
                shutil.copy(sample_dir / name, work)
        done = subprocess.run([str(saverpack)] + argv[1:], cwd=work, capture_output=True, text=True)
    return done.returncode, (done.stdout + done.stderr).splitlines()


def masked(lines):
    return [TIMING.sub("N s", line.rstrip()) for line in lines]


def demo_story(lines):
    """From "== What the user saw" to the line before the closing "demo: "."""
    try:
        start = next(i for i, line in enumerate(lines) if line.startswith("== What the user saw"))
    except StopIteration:
        return []
    story = []
    for line in lines[start:]:
        if line.startswith("demo: "):
            break
        story.append(line.rstrip())
    while story and story[-1] == "":
        story.pop()
    return story


def check_demo(readme, build):
    root = Path(__file__).resolve().parents[2]
    probe = subprocess.run([str(root / "scripts" / "can-run-32bit")], capture_output=True, text=True)
    if probe.returncode != 0 and not os.environ.get("E2E_REQUIRE_WINE"):
        print(f"readme_examples: skipped: {probe.stdout.strip()}; make test runs it in the emulated PC")
        return 77
    shown = next((demo_story(lines) for _, lines in indented_blocks(readme.read_text())
                  if lines and lines[0].startswith("== What the user saw")), [])
    done = subprocess.run([str(root / "scripts" / "demo")], capture_output=True, text=True,
                          env=dict(os.environ, BUILD=str(build)))
    told = demo_story(done.stdout.splitlines())
    if done.returncode == 0 and shown and told == [line.rstrip() for line in shown]:
        print(f"the README's demo story is what make demo tells ({len(told)} lines)")
        return 0
    print("the README's demo story is not what make demo tells")
    print("shown:\n  " + "\n  ".join(shown))
    print(f"told (exit status {done.returncode}):\n  " + "\n  ".join(told) + "\n" + done.stderr)
    return 1


def main():
    readme, build = Path(sys.argv[1]), Path(sys.argv[2]).resolve()
    if sys.argv[3:] == ["--demo"]:
        return check_demo(readme, build)
    saverpack = build / "host" / "saverpack"
    sample_dir = build / "win32" / "aquarium"
    examples = list(worked_examples(readme.read_text()))
    if not examples:
        print("readme_examples: the README shows no worked saverpack example")
        return 1
    failures = 0
    for start, command, shown in examples:
        status, printed = run(command, saverpack, sample_dir)
        if status != 0 or masked(printed) != masked(shown):
            failures += 1
            print(f"README line {start}: the example prints what the README does not show")
            print("shown:\n  " + "\n  ".join(shown))
            print(f"printed (exit status {status}):\n  " + "\n  ".join(printed))
        else:
            print(f"README line {start}: prints what it shows ({len(shown)} lines)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

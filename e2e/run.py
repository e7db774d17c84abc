#!/usr/bin/env python3
"""Checks of the Windows build: the PE checks of both executables, then the end-to-end
scenarios under Wine (e2e/scenarios/*.scenario). Ends with "N passed, M failed".

usage: run.py [--build DIR] [--exports DIR] [--keep] [SCENARIO ...]
"""
import argparse
import glob
import os
import re
import shutil
import struct
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, HERE)

import pe_check  # noqa: E402
import scenario as scenarios  # noqa: E402
import wine  # noqa: E402

RELAY_CALL = re.compile(r"Call user32\.MessageBoxA\(.*,([0-9a-fA-F]+)\) ret=")


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def record(self, name, problems):
        if problems:
            self.failed += 1
            print(f"FAIL {name}")
            for problem in problems:
                print(f"     {problem}")
        else:
            self.passed += 1
            print(f"ok   {name}")
        sys.stdout.flush()


def parse_harness(stdout):
    """([{caption, text, buttons, answer}], exit code or None, [errors])."""
    boxes, exit_code, errors = [], None, []
    for line in stdout.decode("ascii", errors="replace").splitlines():
        if line.startswith("box "):
            fields = dict(item.split("=", 1) for item in line[4:].split())
            fields["caption"] = bytes.fromhex(fields["caption"])
            fields["text"] = bytes.fromhex(fields["text"])
            boxes.append(fields)
        elif line.startswith("exit "):
            exit_code = int(line[5:])
        elif line.startswith("error "):
            errors.append(line[6:])
    return boxes, exit_code, errors


def show(data):
    return data.decode("cp932", errors="backslashreplace").replace("\n", "\\n")


def compare_boxes(expected, seen, types):
    problems = []
    for index in range(max(len(expected), len(seen))):
        number = index + 1
        if index >= len(seen):
            problems.append(f"box {number} never shown: {expected[index].text!r}")
            continue
        box = seen[index]
        if index >= len(expected):
            problems.append(f"unexpected box {number}: {show(box['caption'])} / {show(box['text'])}")
            continue
        want = expected[index]
        if box["caption"] != want.caption.encode("cp932"):
            problems.append(f"box {number} caption {show(box['caption'])!r}, want {want.caption!r}")
        if box["text"] != want.text.encode("cp932"):
            problems.append(f"box {number} text {show(box['text'])!r}, want {want.text!r}")
        if box["buttons"] != want.buttons():
            problems.append(f"box {number} buttons {box['buttons']}, want {want.buttons()}")
        if index < len(types) and types[index] != want.type:
            problems.append(f"box {number} type {types[index]:#x}, want {want.type:#x}")
    if len(types) != len(seen):
        problems.append(f"{len(types)} MessageBoxA calls traced for {len(seen)} boxes seen")
    return problems


def registry_changes(before, after):
    """Sorted lists of descriptions: removed keys, added keys, changed values."""
    removed = sorted(k for k in before if k not in after)
    added = sorted(k for k in after if k not in before)
    values = []
    for key in sorted(set(before) & set(after)):
        old, new = before[key], after[key]
        for name in sorted(set(old) | set(new)):
            if old.get(name) != new.get(name):
                values.append((key, name, old.get(name), new.get(name)))
    return removed, added, values


def compare_state(sc, before, after):
    problems = []
    removed, added, values = registry_changes(before["registry"], after["registry"])
    gone_roots = [wine.canonical_key(key) for key in sc.gone_keys]
    for root in gone_roots:
        if root not in before["registry"]:
            problems.append(f"key expected to go was never there: {root}")
        elif root in after["registry"]:
            problems.append(f"key still there: {root}")
    for key in removed:
        if not any(key == root or key.startswith(root + "\\") for root in gone_roots):
            problems.append(f"key removed unexpectedly: {key}")
    for key in added:
        problems.append(f"key added: {key}")
    gone_values = {(wine.canonical_key(key), name.lower()) for key, name in sc.gone_values}
    for key, name in sorted(gone_values):
        if name not in before["registry"].get(key, {}):
            problems.append(f"value expected to go was never there: {key} {name}")
    for key, name, old, new in values:
        if (key, name) in gone_values and new is None:
            continue
        problems.append(f"value {key} {name} changed: {old and old[1]} -> {new and new[1]}")
    for key, name in sorted(gone_values):
        if name in after["registry"].get(key, {}):
            problems.append(f"value still there: {key} {name}")
    normal_files = {wine.machine_file_key(path) for path in sc.normal_files}
    for path in sorted(normal_files):
        if path not in before["files"] or not after["files"].get(path, (0, False))[1]:
            problems.append(f"file expected to stay with normal attributes: {path}")
    gone_files = {wine.machine_file_key(path) for path in sc.gone_files}
    for path in sorted(gone_files - set(before["files"])):
        problems.append(f"file expected to go was never there: {path}")
    for path in sorted(set(before["files"]) | set(after["files"])):
        if before["files"].get(path) == after["files"].get(path):
            continue
        if path in gone_files and path not in after["files"]:
            continue
        if path in normal_files and path in after["files"]:
            continue  # checked above
        state = "removed" if path not in after["files"] else (
            "added" if path not in before["files"] else "changed")
        problems.append(f"file {state} unexpectedly: {path}")
    return problems


def describe_changes(before, after):
    removed, added, values = registry_changes(before["registry"], after["registry"])
    lines = [f"removed key {k}" for k in removed] + [f"added key {k}" for k in added]
    lines += [f"changed value {k} {n}" for k, n, _, _ in values]
    files = set(before["files"]) ^ set(after["files"])
    lines += [f"file {'removed' if p in before['files'] else 'added'} {p}" for p in sorted(files)]
    return lines or ["no changes"]


def seed(prefix, sc):
    machine = wine.MACHINES[sc.mode]
    wine.load_registry(prefix, machine["registry"].splitlines() + sc.registry)
    for folder in machine["folders"] + sc.folders:
        os.makedirs(wine.host_path(prefix, folder), exist_ok=True)
    for path, content in sc.files:
        host = wine.host_path(prefix, path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(content)
        if path in sc.read_only:
            os.chmod(host, 0o444)  # what Wine reports as FILE_ATTRIBUTE_READONLY


def play(sc, base, work, exe, harness):
    """Runs one scenario in a copy of the base prefix; returns (problems, notes)."""
    prefix = os.path.abspath(os.path.join(work, sc.name))
    wine.copy_prefix(base, prefix)
    wine.server(prefix, "-p")
    try:
        seed(prefix, sc)
        tools = os.path.join(prefix, "drive_c", "e2e")
        os.makedirs(tools)
        for program in (exe, harness):
            shutil.copy(program, tools)
        before = {"registry": wine.registry_snapshot(prefix), "files": wine.file_snapshot(prefix)}
        # A recorded run declines every box after the scripted ones.
        answers = ",".join(sc.answers() + (["DECLINE*"] if sc.record else [])) or "-"
        args = [wine.windows_path(prefix, os.path.join(tools, "harness.exe")), answers,
                wine.windows_path(prefix, os.path.join(tools, os.path.basename(exe)))]
        result = wine.run(prefix, *args + ([sc.word] if sc.word is not None else []), relay=True)
        shutil.rmtree(tools)
        after = {"registry": wine.registry_snapshot(prefix), "files": wine.file_snapshot(prefix)}
    finally:
        wine.server(prefix, "-k")
    seen, exit_code, errors = parse_harness(result.stdout)
    types = [int(m.group(1), 16) for m in RELAY_CALL.finditer(result.stderr.decode("latin-1"))]
    problems = [f"harness: {error}" for error in errors]
    notes = []
    if sc.record:
        for box, box_type in zip(seen, types + [None] * len(seen)):
            notes.append(f"box type {box_type if box_type is None else hex(box_type)} "
                         f"buttons {box['buttons']}: {show(box['caption'])} / {show(box['text'])}")
        notes.append(f"exit code {exit_code}")
        notes += describe_changes(before, after)
    else:
        problems += compare_boxes(sc.boxes, seen, types)
        problems += compare_state(sc, before, after)
    if sc.exit_code is not None and exit_code != sc.exit_code:
        problems.append(f"exit code {exit_code}, want {sc.exit_code}")
    return problems, notes, prefix


def new_runs_folder(parent):
    """A folder of its own for this test run's prefixes (runs in the same checkout may
    overlap). Prefixes kept from failed runs more than an hour ago are removed: each is
    about 700 MB."""
    os.makedirs(parent, exist_ok=True)
    for name in os.listdir(parent):
        old = os.path.join(parent, name)
        if time.time() - os.path.getmtime(old) > 3600:
            shutil.rmtree(old, ignore_errors=True)
    return tempfile.mkdtemp(prefix=time.strftime("%H%M%S-"), dir=parent)


def run_runtime_test(base, runs, tools):
    """e2e/runtime_test.exe, whose exit code is the set of its failed checks."""
    prefix = os.path.join(runs, "runtime-test")
    wine.copy_prefix(base, prefix)
    shutil.copy(os.path.join(tools, "runtime_test.exe"), os.path.join(prefix, "drive_c"))
    wine.server(prefix, "-p")
    try:
        result = wine.run(prefix, "C:\\runtime_test.exe")
    finally:
        wine.server(prefix, "-k")
    shutil.rmtree(prefix, ignore_errors=True)
    if result.returncode == 0:
        return []
    return [f"exit code {result.returncode:#x} (1 fill/copy, 2 move, 4 compare, 8 large frames)"]


def run_pe_checks(results, build, exports):
    try:
        checks = pe_check.all_checks(build, exports)
    except (OSError, ValueError, struct.error) as error:
        checks = [("PE checks: read the executables", [f"{type(error).__name__}: {error}"])]
    for name, problems in checks:
        results.record(name, problems)


def run_scenarios(results, build, names, keep):
    exe = os.path.join(build, "win64", "QuendalUninstall.exe")
    harness = os.path.join(build, "win64", "e2e", "harness.exe")
    work = os.path.join(os.path.abspath(build), "e2e")  # Wine wants absolute prefix paths
    base = os.path.join(work, "base")
    started = time.time()
    try:
        if wine.make_base(base):
            print(f"made the base Wine prefix in {time.time() - started:.0f} s")
    except Exception as error:
        results.record("wine: make the base prefix", [f"{type(error).__name__}: {error}"])
        return
    runs = new_runs_folder(os.path.join(work, "runs"))
    if not names:
        results.record("wine: the runtime functions of app/runtime.cpp",
                       run_runtime_test(base, runs, os.path.join(build, "win64", "e2e")))
    for path in sorted(glob.glob(os.path.join(HERE, "scenarios", "*.scenario"))):
        name = os.path.basename(path)[:-len(".scenario")]
        if names and name not in names:
            continue
        try:
            sc = scenarios.load(path, name)
            problems, notes, prefix = play(sc, base, runs, exe, harness)
        except Exception as error:  # a broken scenario or Wine failure fails this one only
            problems, notes, prefix = [f"{type(error).__name__}: {error}"], [], None
        title = f"wine: {name}" + (" (recorded, not checked)" if not problems and notes else "")
        results.record(title, problems)
        for note in notes:
            print(f"     {note}")
        if prefix and not problems and not keep:
            shutil.rmtree(prefix, ignore_errors=True)
        elif prefix:
            print(f"     prefix kept: {prefix}")
    if not os.listdir(runs):
        os.rmdir(runs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--exports", default=os.path.join("..", "shared", "win98se-exports"))
    parser.add_argument("--keep", action="store_true", help="keep every scenario's prefix")
    parser.add_argument("scenarios", nargs="*")
    options = parser.parse_args()
    results = Results()
    if not options.scenarios:
        run_pe_checks(results, options.build, options.exports)
    if not os.path.exists(wine.WINE64):
        print("skipping the Wine end-to-end tests: wine64 is not installed")
    elif shutil.which("locale") and "ja_JP.utf8" not in os.popen("locale -a").read():
        results.record("wine: the ja_JP.UTF-8 locale exists", ["run: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"])
    else:
        run_scenarios(results, options.build, options.scenarios, options.keep)
    print(f"{results.passed} passed, {results.failed} failed")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())

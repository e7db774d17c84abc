#!/usr/bin/env python3
"""Checks of the Windows build: the PE checks of the release, then the end-to-end scenarios
under Wine (e2e/scenarios/*.scenario), each played in every way it names (see WAYS), and in
one of them also snapshotted before and after the run, rehearsed with the hosted uninstall-sim
and compared (see check_rehearsal). Ends with "N passed, M failed".

usage: run.py [--build DIR] [--exports DIR] [--keep] [--jobs N] [SCENARIO ...]
"""
import argparse
import concurrent.futures
import glob
import json
import os
import re
import shutil
import struct
import subprocess
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

# The ways a scenario is played (its `ways` line; scenario.py has the defaults): the prefix,
# the program the harness starts, and the programs copied beside it. The release is the
# 32-bit QuendalUninstall.exe with QuendalUninstall64.exe beside it; under WOW64 the first
# hands the run to the second, so "wow64" must show what "win64" shows.
# "beside" pairs a file of the release with the name it is copied under.
WAYS = {
    "win32": {"arch": "win32", "program": "QuendalUninstall.exe", "beside": []},
    "win64": {"arch": "win64", "program": "QuendalUninstall64.exe", "beside": []},
    "wow64": {"arch": "win64", "program": "QuendalUninstall.exe",
              "beside": [("QuendalUninstall64.exe", "QuendalUninstall64.exe")]},
    "wow64-alone": {"arch": "win64", "program": "QuendalUninstall.exe", "beside": []},
    "wow64-32-bit-as-64": {"arch": "win64", "program": "QuendalUninstall.exe",
                           "beside": [("QuendalUninstall.exe", "QuendalUninstall64.exe")]},
}
# The ways whose program refuses to run by design: nothing to rehearse.
REFUSING_WAYS = ("wow64-alone", "wow64-32-bit-as-64")


def playable(way, arches):
    """Whether this machine's Wine plays the way: its prefix can be made, and a 32-bit
    program, which the 64-bit prefix too runs with 32-bit Wine, can start ("win32" is among
    the architectures only where 32-bit Wine runs)."""
    return WAYS[way]["arch"] in arches and (
        WAYS[way]["program"] == "QuendalUninstall64.exe" or "win32" in arches)


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


# Where Windows, and Wine, keep the files to delete at the next restart: REG_MULTI_SZ pairs of
# "\\??\\" + the file's path and the new name, empty for a deletion.
SESSION_MANAGER = "hklm\\system\\currentcontrolset\\control\\session manager"
PENDING_VALUE = "pendingfilerenameoperations"


def multi_strings(data):
    """The strings of a REG_MULTI_SZ value as `reg export` writes it (hex(7):...), empty ones
    included, without the list's closing terminator."""
    if data is None:
        return []
    if not data[1].startswith("hex(7):"):
        raise ValueError(f"{PENDING_VALUE} is no REG_MULTI_SZ: {data[1]!r}")
    raw = bytes(int(byte, 16) for byte in data[1][7:].split(",") if byte)
    text = raw.decode("utf-16-le")
    if text.endswith("\0\0"):
        text = text[:-1]  # the list's terminator after the last string's
    return text.split("\0")[:-1] if text.endswith("\0") else text.split("\0")


def pending_problems(sc, old, new):
    """The pending-deletion value gained exactly the scenario's pending files."""
    old_entries, new_entries = multi_strings(old), multi_strings(new)
    problems = []
    added = len([e for e in new_entries if e]) - len([e for e in old_entries if e])
    if added != len(sc.pending_files):
        problems.append(f"{added} files scheduled for deletion at restart, want "
                        f"{len(sc.pending_files)}: {new_entries}")
    for path in sc.pending_files:
        wanted = "\\??\\" + wine.machine_windows_path(path)
        if not any(entry.lower() == wanted.lower() and following == ""
                   for entry, following in zip(new_entries, new_entries[1:] + [""])):
            problems.append(f"file not scheduled for deletion at restart: {path}")
    return problems


def compare_state(sc, before, after, under_wine=True):
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
    pending_seen = False
    for key, name, old, new in values:
        if (key, name) in gone_values and new is None:
            continue
        if (key, name) == (SESSION_MANAGER, PENDING_VALUE) and sc.pending_files:
            pending_seen = True
            problems += pending_problems(sc, old, new)
            continue
        problems.append(f"value {key} {name} changed: {old and old[1]} -> {new and new[1]}")
    for key, name in sorted(gone_values):
        if name in after["registry"].get(key, {}):
            problems.append(f"value still there: {key} {name}")
    if sc.pending_files and not pending_seen:
        problems.append(f"nothing scheduled for deletion at restart: {PENDING_VALUE} unchanged")
    # A file deleted at restart stays for now, its attributes set to normal first.
    normal_files = {wine.machine_file_key(path) for path in sc.normal_files + sc.pending_files
                    if not (under_wine and path in sc.wine_gone_files)}
    for path in sorted(normal_files):
        if path not in before["files"] or not after["files"].get(path, (0, False))[1]:
            problems.append(f"file expected to stay with normal attributes: {path}")
    gone_files = {wine.machine_file_key(path)
                  for path in sc.gone_files + (sc.wine_gone_files if under_wine else [])}
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
    version = [] if sc.version is None else [
        "[HKEY_CURRENT_USER\\Software\\Wine]", f'"Version"="{sc.version}"', ""]
    wine.load_registry(prefix, version + machine["registry"].splitlines() + sc.registry)
    for folder in machine["folders"] + sc.folders:
        os.makedirs(wine.host_path(prefix, folder), exist_ok=True)
    for path, content in sc.files:
        host = wine.host_path(prefix, path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(content)
        if path in sc.read_only:
            os.chmod(host, 0o444)  # what Wine reports as FILE_ATTRIBUTE_READONLY


class Run:
    """One scenario played one way: what the checks look at. The prefix still exists and its
    wineserver still runs while the checks run."""

    def __init__(self, sc, way, prefix, build):
        self.sc, self.way, self.prefix = sc, way, prefix
        self.before = self.after = None
        self.seen, self.types, self.exit_code, self.errors = [], [], None, []
        self.notes = []
        # The folder tools/snapshot.bat writes into before the run and, replacing that, after
        # it (if any), and a copy of the first.
        self.snapshot = self.snapshot_before = None
        self.snapshot_wow64 = None  # taken before the run from a 32-bit prompt on 64-bit Windows
        self.snapshot_seconds = 0.0
        self.rehearsal = os.path.join(build, "host", "tools", "uninstall-sim")


def check_harness(run):
    return [f"harness: {error}" for error in run.errors]


def check_boxes(run):
    if run.sc.record:
        for box, box_type in zip(run.seen, run.types + [None] * len(run.seen)):
            run.notes.append(f"box type {box_type if box_type is None else hex(box_type)} "
                             f"buttons {box['buttons']}: {show(box['caption'])} / "
                             f"{show(box['text'])}")
        return []
    return compare_boxes(run.sc.boxes, run.seen, run.types)


def check_state(run):
    if run.sc.record:
        run.notes += describe_changes(run.before, run.after)
        return []
    return compare_state(run.sc, run.before, run.after)


def check_exit_code(run):
    if run.sc.record:
        run.notes.append(f"exit code {run.exit_code}")
    if run.sc.exit_code is not None and run.exit_code != run.sc.exit_code:
        return [f"exit code {run.exit_code}, want {run.sc.exit_code}"]
    return []


# ---- The rehearsal of a snapshot, checked against the run under Wine ----------------------

def rehearsed_way(sc, arches):
    """The way whose prefix is also snapshotted and rehearsed: the first one played here in
    which the uninstaller does the work. The snapshot shows the machine, not how the release was
    copied onto it, so a 32-bit program alone under WOW64, which refuses to run, is none.
    A recorded scenario has nothing to compare."""
    ways = [way for way in sc.ways if way not in REFUSING_WAYS and playable(way, arches)]
    return ways[0] if ways and not sc.record else None


# The scenarios whose machine is also snapshotted from a 32-bit prompt on 64-bit Windows: one
# whose run deletes the driver file from system32\\drivers, which such a prompt sees only
# through Sysnative. (Where 32-bit programs run under an emulator, cmd takes minutes.)
WOW64_SNAPSHOT_SCENARIOS = {"nt-complete"}
WOW64_SNAPSHOT_SECONDS = 900


def wow64_snapshot_way(sc, arches):
    """The way in which the snapshot is also taken from a 32-bit prompt on 64-bit Windows
    (C:\\windows\\syswow64\\cmd.exe, a 32-bit program): the first 64-bit way of the scenarios
    above, where 32-bit Wine runs too."""
    if sc.record or sc.name not in WOW64_SNAPSHOT_SCENARIOS or "win32" not in arches:
        return None
    ways = [way for way in sc.ways if WAYS[way]["arch"] == "win64" and way not in REFUSING_WAYS]
    return ways[0] if ways else None


SNAPSHOT_CLOSING = re.compile(rb"^Snapshot written to C:\\[A-Z0-9]+\. Copy the folder and "
                              rb"rehearse with: uninstall-sim --snapshot FOLDER\r?\n"
                              rb"(This is a 32-bit command prompt: [^\r\n]*\r?\n)?$")


def take_snapshot(prefix, sc, folder="SNAPSHOT", cmd="cmd", timeout=40):
    """tools/snapshot.bat run by Wine's cmd, as an administrator runs it: from the root of C:
    with a relative folder, the family word in another letter case (the word is needed in
    Wine's Windows 98 mode, where cmd reports Windows NT). Returns the folder, or raises when the
    script printed anything but its closing lines."""
    shutil.copy(os.path.join(HERE, "..", "tools", "snapshot.bat"),
                os.path.join(prefix, "drive_c"))
    result = wine.run(prefix, cmd, "/c", "C:\\snapshot.bat", folder, sc.mode.capitalize(),
                      cwd=os.path.join(prefix, "drive_c"), timeout=timeout)
    os.remove(os.path.join(prefix, "drive_c", "snapshot.bat"))
    if result.stderr.strip() or not SNAPSHOT_CLOSING.match(result.stdout):
        raise RuntimeError(f"snapshot.bat printed: {result.stdout!r} {result.stderr!r}")
    return os.path.join(prefix, "drive_c", folder)


def rehearse(run, before):
    """uninstall-sim on the snapshot taken before the run, with the scenario's answers and word,
    compared with the one taken after it: (the events of its --record file, its exit status,
    problems)."""
    if not os.path.exists(run.rehearsal):
        return [], None, [f"{run.rehearsal} is missing: make hosted builds it"]
    record = os.path.join(run.prefix, "rehearsal.jsonl")
    args = [run.rehearsal, "--snapshot", before, "--compare", run.snapshot, "--record", record]
    if run.sc.answers():
        args += ["--answer", ",".join(run.sc.answers()).lower()]
    if run.sc.word is not None:
        args += ["--", run.sc.word]
    result = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if result.returncode not in (0, 3):  # as rehearsed, or not
        error = result.stderr.decode(errors="replace").strip().splitlines()
        return [], None, [f"uninstall-sim failed with status {result.returncode}: "
                          f"{error[0] if error else 'no message'}"]
    with open(record, encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    if not lines or lines[0] != {"format": "uninstall-sim record", "version": 3}:
        return [], None, [f"the record does not begin with its format line: {lines[:1]}"]
    return lines[1:], result.returncode, []


def system_texts_differ(sc, predicted, seen):
    """A snapshot holds none of the machine's system texts, so where an error report shows
    one (a scenario's `message` line, Wine's Japanese wording) the rehearsal shows the
    simulation's English text for the code instead. Such a box is compared by caption and
    type; its text is taken as seen."""
    texts = {text.encode("cp932") for _, text in sc.messages}
    for box, shown in zip(predicted, seen):
        if shown["text"] in texts and box.type & 0xF0 == 0x10:
            box.text = shown["text"].decode("cp932")


def predicted_boxes(events):
    boxes = []
    for event in events:
        if event["event"] == "box":
            box = scenarios.Box(event["answer"].upper(), event["type"])
            box.caption, box.text = event["caption"], event["text"]
            boxes.append(box)
    return boxes


DELETE_FILE_CAPTION = b"Function : DeleteFile()"


def rehearsed_boxes_seen(run, predicted):
    """The boxes and types of the run that the rehearsal can show: a snapshot cannot show that
    a file is in use, so the error box of each file the scenario holds open is left out, and
    where the run deletes such a file at the next restart (the Windows 2000 family), its
    restart prompt stands where the rehearsal, which deleted the file, closes with the
    completion box: that pair is left out of the comparison too."""
    seen, types, unpredictable = [], [], len(run.sc.in_use_files)
    for index, box in enumerate(run.seen):
        if unpredictable and box["caption"] == DELETE_FILE_CAPTION:
            unpredictable -= 1
            continue
        seen.append(box)
        if index < len(run.types):
            types.append(run.types[index])
    closes_with = {box.type for box in predicted[-1:]}
    if (run.sc.pending_files and seen and seen[-1]["buttons"] == "OK+CANCEL"
            and closes_with == {0}):
        seen, types = seen[:-1], types[:len(seen) - 1]
        del predicted[-1]
    return seen, types


AS_REHEARSED = ("removed as rehearsed", "kept as rehearsed")


def named_differences(run):
    """The comparison's findings the scenario names, by (result, lower-cased Windows path):
    the files Wine removes where Windows keeps them, and those the run could not remove."""
    def path(machine_path):
        return wine.windows_path(run.prefix, wine.host_path(run.prefix, machine_path)).lower()
    named = {("removed unexpectedly", path(p)) for p in run.sc.wine_gone_files}
    return named | {("left behind", path(p)) for p in run.sc.left_behind_files}


# The time each rehearsed run spent on its snapshots and rehearsal, for the closing line.
REHEARSAL_SECONDS = []


def check_rehearsal(run):
    """The snapshot taken before the run, rehearsed with uninstall-sim, predicts the boxes
    (caption, text, type, in order) and the exit code of the run under Wine, and compared with
    the snapshot taken after the run into the same folder (which replaces the first whole) it
    finds the run as rehearsed: exit status 0, or 3 with exactly the differences the scenario
    names. So does the snapshot taken from a 32-bit prompt, where there is one."""
    if run.snapshot_before is None and run.snapshot_wow64 is None:
        return []
    started = time.time()
    problems = []
    if run.snapshot_before is not None:
        problems += [f"rehearsal: {p}" for p in rehearsal_problems(run, run.snapshot_before)]
    if run.snapshot_wow64 is not None:
        problems += [f"rehearsal of the 32-bit prompt's snapshot: {p}"
                     for p in wow64_problems(run)]
    REHEARSAL_SECONDS.append(run.snapshot_seconds + time.time() - started)
    return problems


def rehearsal_problems(run, before):
    events, status, problems = rehearse(run, before)
    if problems:
        return problems
    boxes = predicted_boxes(events)
    seen, types = rehearsed_boxes_seen(run, boxes)
    system_texts_differ(run.sc, boxes, seen)
    problems = compare_boxes(boxes, seen, types)
    exit_code = events[-1]["code"] if events and events[-1]["event"] == "exit" else None
    if exit_code != run.exit_code:
        problems.append(f"exit code {run.exit_code}, the rehearsal's {exit_code}")
    named = named_differences(run)
    found = set()
    for event in events:
        if event["event"] != "compared" or event["result"] in AS_REHEARSED:
            continue
        difference = (event["result"], event["subject"].lower())
        found.add(difference)
        if difference not in named:
            problems.append(f"the comparison: {event['result']}: {event['subject kind']} "
                            f"{event['subject']}")
        elif event["result"] == "left behind" and not event["step"]:
            problems.append(f"the comparison names no step for {event['subject']}")
    for result, subject in sorted(named - found):
        problems.append(f"the scenario names it, the comparison does not find it: {result}: "
                        f"{subject}")
    if status != (3 if found else 0):
        problems.append(f"uninstall-sim --compare ended with status {status}")
    return problems


def wow64_problems(run):
    with open(os.path.join(run.snapshot_wow64, "WHERE.TXT"), "rb") as f:
        where = f.read()
    if b"wow64 C:\\windows\\Sysnative" not in where:
        return [f"WHERE.TXT has no wow64 line: {where!r}"]
    return rehearsal_problems(run, run.snapshot_wow64)


# Every run is checked by each of these in turn; each returns a list of problems. A check of
# its own for every scenario is one more function here.
RUN_CHECKS = [check_harness, check_boxes, check_state, check_exit_code, check_rehearsal]


def play(sc, way, base, work, build, arches):
    """Plays one scenario one way in a copy of the base prefix; returns (problems, notes,
    prefix)."""
    setup = WAYS[way]
    prefix = os.path.abspath(os.path.join(work, f"{sc.name}.{way}"))
    wine.copy_prefix(base, prefix)
    wine.server(prefix, "-p")
    run = Run(sc, way, prefix, build)
    problems = []
    try:
        seed(prefix, sc)
        started = time.time()
        if way == rehearsed_way(sc, arches):
            run.snapshot = take_snapshot(prefix, sc)
        if way == wow64_snapshot_way(sc, arches):
            run.snapshot_wow64 = take_snapshot(prefix, sc, "SNAPWOW",
                                               "C:\\windows\\syswow64\\cmd.exe",
                                               WOW64_SNAPSHOT_SECONDS)
        run.snapshot_seconds = time.time() - started
        tools = os.path.join(prefix, "drive_c", sc.program_folder)
        os.makedirs(tools)
        release = os.path.join(build, "release")
        for source, name in [(setup["program"], setup["program"])] + setup["beside"]:
            shutil.copy(os.path.join(release, source), os.path.join(tools, name))
        shutil.copy(os.path.join(build, setup["arch"], "e2e", "harness.exe"), tools)
        run.before = {"registry": wine.registry_snapshot(prefix),
                      "files": wine.file_snapshot(prefix)}
        # A recorded run declines every box after the scripted ones.
        answers = ",".join(sc.answers() + (["DECLINE*"] if sc.record else [])) or "-"
        args = [wine.windows_path(prefix, os.path.join(tools, "harness.exe"))]
        for path in sc.in_use_files:
            args += ["--hold", wine.windows_path(prefix, wine.host_path(prefix, path))]
        args += [answers, wine.windows_path(prefix, os.path.join(tools, setup["program"]))]
        result = wine.run(prefix, *args + ([sc.word] if sc.word is not None else []), relay=True)
        shutil.rmtree(tools)
        run.after = {"registry": wine.registry_snapshot(prefix),
                     "files": wine.file_snapshot(prefix)}
        if run.snapshot is not None:
            started = time.time()
            run.snapshot_before = os.path.join(prefix, "snapshot-before")
            shutil.copytree(run.snapshot, run.snapshot_before)
            take_snapshot(prefix, sc)
            run.snapshot_seconds += time.time() - started
        run.seen, run.exit_code, run.errors = parse_harness(result.stdout)
        run.types = [int(m.group(1), 16)
                     for m in RELAY_CALL.finditer(result.stderr.decode("latin-1"))]
        for check in RUN_CHECKS:
            problems += check(run)
    finally:
        wine.server(prefix, "-k")
    return problems, run.notes, prefix


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
    """e2e/runtime_test.exe of the prefix's architecture, whose exit code is the set of its
    failed checks."""
    prefix = os.path.join(runs, "runtime-test-" + os.path.basename(os.path.dirname(tools)))
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


def make_bases(results, work, arches):
    """{arch: base prefix} of the prefixes that could be made."""
    bases = {}
    for arch in arches:
        base = os.path.join(work, "base-" + arch)
        started = time.time()
        try:
            if wine.make_base(base, arch, "win32" in arches):
                print(f"made the {arch} base Wine prefix in {time.time() - started:.0f} s")
            bases[arch] = base
        except Exception as error:
            results.record(f"wine: make the {arch} base prefix",
                           [f"{type(error).__name__}: {error}"])
    return bases


def play_one(job):
    """Plays one (scenario, way); returns (title, problems, notes, prefix)."""
    path, name, way, bases, runs, build = job
    try:
        sc = scenarios.load(path, name)
        problems, notes, prefix = play(sc, way, bases[WAYS[way]["arch"]], runs, build,
                                       list(bases))
    except Exception as error:  # a broken scenario or Wine failure fails this run only
        problems, notes, prefix = [f"{type(error).__name__}: {error}"], [], None
    title = f"wine: {name} [{way}]" + (
        " (recorded, not checked)" if not problems and notes else "")
    return title, problems, notes, prefix


def run_scenarios(results, build, names, keep, jobs, arches):
    work = os.path.join(os.path.abspath(build), "e2e")  # Wine wants absolute prefix paths
    bases = make_bases(results, work, arches)
    runs = new_runs_folder(os.path.join(work, "runs"))
    if not names:
        for arch in sorted(bases):
            results.record(f"wine: the runtime functions of app/runtime.cpp [{arch}]",
                           run_runtime_test(bases[arch], runs, os.path.join(build, arch, "e2e")))
    plays = []
    for path in sorted(glob.glob(os.path.join(HERE, "scenarios", "*.scenario"))):
        name = os.path.basename(path)[:-len(".scenario")]
        if names and name not in names:
            continue
        try:
            ways = scenarios.load(path, name).ways
        except Exception as error:
            results.record(f"wine: {name}", [f"{type(error).__name__}: {error}"])
            continue
        for way in ways:
            if playable(way, list(bases)):
                plays.append((path, name, way, bases, runs, build))
    # Each run has a prefix and a wineserver of its own, so runs go side by side; the results
    # are printed in the order of the list.
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        for title, problems, notes, prefix in pool.map(play_one, plays):
            results.record(title, problems)
            for note in notes:
                print(f"     {note}")
            if prefix and not problems and not keep:
                shutil.rmtree(prefix, ignore_errors=True)
            elif prefix:
                print(f"     prefix kept: {prefix}")
    if not os.listdir(runs):
        os.rmdir(runs)


def installed_arches(results):
    """The prefix architectures this machine's Wine can run, after a line for each missing
    part."""
    if not os.path.exists(wine.WINE64):
        print("skipping the Wine end-to-end tests: wine64 is not installed")
        return []
    if shutil.which("locale") and "ja_JP.utf8" not in os.popen("locale -a").read():
        results.record("wine: the ja_JP.UTF-8 locale exists",
                       ["run: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"])
        return []
    if not os.path.exists(wine.WINE32):
        # Without 32-bit Wine no 32-bit program runs, under WOW64 neither: only the 64-bit
        # edition is played.
        print("skipping the runs of the 32-bit program: wine32:i386 is not installed "
              "(bash .ci/install-deps installs it)")
        return ["win64"]
    try:
        subprocess.run([wine.WINE32, "--version"], capture_output=True, timeout=120)
    except OSError as error:
        # A kernel built without IA-32 emulation (some virtual machines) cannot start the
        # i386 Wine loader: "Exec format error". Emulating it with qemu-i386 works but is far
        # too slow for these runs (over 5 minutes to make one 32-bit prefix).
        print(f"skipping the runs of the 32-bit program: {wine.WINE32} does not start "
              f"({error.strerror})")
        return ["win64"]
    return list(wine.ARCHES)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--exports", default=os.path.join(HERE, "win98se-exports"))
    parser.add_argument("--keep", action="store_true", help="keep every run's prefix")
    parser.add_argument("--jobs", type=int, default=int(os.environ.get("JOBS", "2")),
                        help="runs side by side (default: $JOBS or 2)")
    parser.add_argument("scenarios", nargs="*")
    options = parser.parse_args()
    results = Results()
    if not options.scenarios:
        run_pe_checks(results, options.build, options.exports)
    arches = installed_arches(results)
    if arches:
        started = time.time()
        run_scenarios(results, options.build, options.scenarios, options.keep, options.jobs,
                      arches)
        print(f"the Wine runs took {time.time() - started:.0f} s, of which the "
              f"{len(REHEARSAL_SECONDS)} snapshots and their rehearsals "
              f"{sum(REHEARSAL_SECONDS):.1f} s (summed over runs side by side)")
    print(f"{results.passed} passed, {results.failed} failed")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())

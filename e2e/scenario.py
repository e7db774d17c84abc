r"""Reads scenario files: what the machine holds before a run, what the user answers, which
boxes must appear and what must be gone afterwards.

A scenario file is UTF-8 text, one directive a line, '#' starts a comment line:

    mode nt | win98            the Windows family Wine plays (win98: the AppDefaults version)
    ways WAY ...               how the scenario is played, each way on a fresh machine:
                                 win32        QuendalUninstall.exe in a 32-bit prefix
                                 win64        QuendalUninstall64.exe in a 64-bit prefix
                                 wow64        QuendalUninstall.exe with QuendalUninstall64.exe
                                              beside it in a 64-bit prefix
                                 wow64-alone  QuendalUninstall.exe alone in a 64-bit prefix
                                 wow64-32-bit-as-64
                                              QuendalUninstall.exe with a copy of itself
                                              named QuendalUninstall64.exe beside it
                               default: win32 win64 wow64 for nt; win32 for win98 (Windows 98
                               runs 32-bit programs only, and never under WOW64)
    version winxp | win10      the Windows version an nt machine plays: Wine's version name
                               for the whole prefix (winxp: XP, 5.1; win7: 6.1; win10: 10.0),
                               the same version on the simulated machine; none: Wine's default
                               version, and Windows 2000 on the simulated machine
    program-folder NAME        the folder below C:\ that the programs are copied into and
                               started from (default e2e); any characters
    word --complete            the command-line word; none when the line is absent
    registry                   REGEDIT4 lines up to 'end', loaded before the run
    ...
    end
    folder %WINDIR%\inf\OTHER  an empty folder
    file %SYSTEM%\x.sys        a file with a few bytes of content
    file %SYSTEM%\x.sys read-only
                               ... with the read-only attribute (also before '<<')
    file %WINDIR%\inf\x.inf <<  ... or with the lines up to 'end' as its content (CR LF)
    ...
    end
    in-use file %SYSTEM%\x.sys  this file is held open while the program runs, shared for reading
                               only, as a loaded driver holds its file: deleting it fails with
                               ERROR_SHARING_VIOLATION (the harness holds it under Wine, the
                               simulation refuses the deletion in the hosted test)
    box OK|CANCEL TYPE         a box, answered OK or Cancel; TYPE is the MessageBoxA type,
                               a number or names joined by '|' (MB_OKCANCEL|MB_ICONWARNING)
    caption TEXT               its caption (default: the program caption)
    text TEXT                  its text; \n is a line feed, \r a carriage return, \\ a backslash
    message CODE TEXT          the system's text for an error code (FormatMessageA), as this
                               machine's locale words it; Wine has its own, the hosted test of
                               the scenario (tests/e2e_scenarios_test.cpp) gives its machine TEXT;
                               the rehearsal of a snapshot of the prefix shows the simulation's
                               own text instead (a snapshot holds no system texts)
    exit -1                    the exit code
    gone key HKLM\...          this key and everything below it is deleted by the run
    gone value HKLM\... NAME   this value is deleted (the key path has no blanks)
    gone file %SYSTEM%\x.sys   this file is deleted
    wine-gone file %WINDIR%\x  this file is deleted under Wine only, where Wine differs from
                               Windows (the scenario says why); the hosted test and the
                               rehearsal follow Windows and keep it, and the comparison of the
                               snapshot after the run finds it removed unexpectedly
    left-behind file %SYSTEM%\x
                               the comparison of the snapshot after the run with the rehearsal
                               of the one before finds this file left behind: the rehearsal
                               removed it, the run could not (a snapshot cannot show that a
                               file is in use); the run's error box for it is not rehearsed
    pending file %SYSTEM%\x.sys this file stays, scheduled for deletion at the next restart:
                               Windows (and Wine) add it to PendingFileRenameOperations of
                               HKLM\SYSTEM\CurrentControlSet\Control\Session Manager, the only
                               change of that key the run may make (an in-use file on the
                               Windows 2000 family)
    normal file %SYSTEM%\x.sys this file stays, its attributes set to normal (FILE_ATTRIBUTE_NORMAL);
                               Wine keeps no archive attribute on a Linux file system: there
                               only a read-only file shows the change (it becomes writable)
    record                     the boxes and the changes are shown, not checked
    include FILE               the lines of FILE (relative to this file), e.g. a seeded machine

%WINDIR% is the Windows directory and %SYSTEM% the system directory of the machine. Everything
the scenario does not name as gone (or normal) must be unchanged after the run.

Device instances are registry keys below HKLM\SYSTEM\CurrentControlSet\Enum with "HardwareID"
(REG_MULTI_SZ) and "ClassGUID"; "Driver" names the driver key below the class key. The hosted
test plays every scenario that is not recorded on the simulated machine too, with such keys as
its devices: a scenario must hold what Windows does, and where Wine differs it says so.
"""
import os
import re

WAY_NAMES = ("win32", "win64", "wow64", "wow64-alone", "wow64-32-bit-as-64")
VERSIONS = ("win2k", "winxp", "win7", "win10")
DEFAULT_WAYS = {"nt": ["win32", "win64", "wow64"], "win98": ["win32"]}

PROGRAM_CAPTION = "QuendalQ40 PRO For USB ドライバアンインストーラ"

BOX_TYPE_NAMES = {
    "MB_OK": 0x0, "MB_OKCANCEL": 0x1, "MB_ICONERROR": 0x10, "MB_ICONHAND": 0x10,
    "MB_ICONQUESTION": 0x20, "MB_ICONWARNING": 0x30, "MB_ICONEXCLAMATION": 0x30,
    "MB_ICONINFORMATION": 0x40,
}


class ScenarioError(Exception):
    pass


class Box:
    def __init__(self, answer, box_type):
        self.answer = answer
        self.type = box_type
        self.caption = PROGRAM_CAPTION
        self.text = None

    def buttons(self):
        return "OK+CANCEL" if self.type & 0xF == 0x1 else "OK"


class Scenario:
    def __init__(self, name):
        self.name = name
        self.description = []
        self.mode = None
        self.ways = None
        self.word = None
        self.version = None
        self.program_folder = "e2e"
        self.registry = []       # REGEDIT4 lines
        self.folders = []        # machine paths
        self.files = []          # (machine path, bytes)
        self.read_only = set()   # machine paths of read-only files
        self.boxes = []
        self.exit_code = None
        self.gone_keys = []
        self.gone_values = []    # (key, value name)
        self.gone_files = []
        self.wine_gone_files = []
        self.in_use_files = []
        self.left_behind_files = []
        self.normal_files = []
        self.pending_files = []
        self.record = False
        self.messages = []       # (error code, text): the machine's system texts

    def answers(self):
        return [box.answer for box in self.boxes]


def unescape(text):
    escapes = {"n": "\n", "r": "\r"}
    return re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(1)), text)


def parse_box_type(text):
    value = 0
    for part in text.split("|"):
        part = part.strip()
        if part in BOX_TYPE_NAMES:
            value |= BOX_TYPE_NAMES[part]
        else:
            value |= int(part, 0)
    return value


def read_block(lines, position):
    """The lines after `position` up to 'end', and the index of that 'end' line."""
    block = []
    for index in range(position + 1, len(lines)):
        if lines[index].strip() == "end":
            return block, index
        block.append(lines[index])
    raise ScenarioError(f"line {position + 1}: block without 'end'")


def expand_includes(text, folder):
    """The lines of `text` with each 'include FILE' line replaced by that file's lines."""
    lines = []
    for line in text.splitlines():
        directive, _, rest = line.strip().partition(" ")
        if directive == "include":
            path = os.path.join(folder, rest.strip())
            with open(path, encoding="utf-8") as f:
                lines.extend(expand_includes(f.read(), os.path.dirname(path)))
        else:
            lines.append(line)
    return lines


def parse(name, text, folder="."):
    scenario = Scenario(name)
    lines = expand_includes(text, folder)
    index = 0
    while index < len(lines):
        line = lines[index].strip()
        number = index + 1
        index += 1
        if not line:
            continue
        if line.startswith("#"):
            if not scenario.boxes and scenario.mode is None:
                scenario.description.append(line.lstrip("# "))
            continue
        directive, _, rest = line.partition(" ")
        rest = rest.strip()
        try:
            if directive == "mode" and rest in ("nt", "win98"):
                scenario.mode = rest
            elif directive == "ways":
                scenario.ways = rest.split()
                unknown = [way for way in scenario.ways if way not in WAY_NAMES]
                if unknown or not scenario.ways:
                    raise ScenarioError(f"ways {rest!r}: known ways are {' '.join(WAY_NAMES)}")
            elif directive == "word":
                scenario.word = rest
            elif directive == "version":
                if rest not in VERSIONS:
                    raise ScenarioError(f"version {rest!r}: known versions are {' '.join(VERSIONS)}")
                scenario.version = rest
            elif directive == "program-folder":
                scenario.program_folder = rest
            elif directive == "registry":
                block, index = read_block(lines, index - 1)
                scenario.registry.extend(block)
                index += 1
            elif directive == "folder":
                scenario.folders.append(rest)
            elif directive == "file":
                words, content = rest.split(), b"quendal test file\r\n"
                heredoc = words[-1:] == ["<<"]
                if heredoc:
                    words.pop()
                    block, index = read_block(lines, index - 1)
                    index += 1
                    content = "".join(line + "\r\n" for line in block).encode("cp932")
                read_only = words[-1:] == ["read-only"]
                path = " ".join(words[:-1] if read_only else words)
                if read_only:
                    scenario.read_only.add(path)
                scenario.files.append((path, content))
            elif directive == "box":
                answer, _, box_type = rest.partition(" ")
                if answer not in ("OK", "CANCEL"):
                    raise ScenarioError(f"answer {answer!r} is neither OK nor CANCEL")
                scenario.boxes.append(Box(answer, parse_box_type(box_type)))
            elif directive in ("caption", "text") and scenario.boxes:
                setattr(scenario.boxes[-1], directive, unescape(rest))
            elif directive == "message":
                code, _, text = rest.partition(" ")
                scenario.messages.append((int(code), unescape(text.strip())))
            elif directive == "exit":
                scenario.exit_code = int(rest)
            elif directive == "gone":
                kind, _, what = rest.partition(" ")
                if kind == "key":
                    scenario.gone_keys.append(what)
                elif kind == "value":
                    key, _, value = what.partition(" ")
                    scenario.gone_values.append((key, value))
                elif kind == "file":
                    scenario.gone_files.append(what)
                else:
                    raise ScenarioError(f"gone {kind!r}")
            elif directive == "wine-gone" and rest.startswith("file "):
                scenario.wine_gone_files.append(rest[5:].strip())
            elif directive == "in-use" and rest.startswith("file "):
                scenario.in_use_files.append(rest[5:].strip())
            elif directive == "left-behind" and rest.startswith("file "):
                scenario.left_behind_files.append(rest[5:].strip())
            elif directive == "normal" and rest.startswith("file "):
                scenario.normal_files.append(rest[5:].strip())
            elif directive == "pending" and rest.startswith("file "):
                scenario.pending_files.append(rest[5:].strip())
            elif directive == "record":
                scenario.record = True
            else:
                raise ScenarioError(f"unknown directive {line!r}")
        except (ValueError, ScenarioError) as error:
            raise ScenarioError(f"{name}:{number}: {error}") from None
    if scenario.mode is None:
        raise ScenarioError(f"{name}: no mode")
    if scenario.ways is None:
        scenario.ways = list(DEFAULT_WAYS[scenario.mode])
    if not scenario.record and scenario.exit_code is None:
        raise ScenarioError(f"{name}: no exit code")
    for box in scenario.boxes:
        if box.text is None and not scenario.record:
            raise ScenarioError(f"{name}: a box without text")
    return scenario


def load(path, name):
    with open(path, encoding="utf-8") as f:
        return parse(name, f.read(), os.path.dirname(path))

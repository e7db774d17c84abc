"""Wine prefixes for the end-to-end tests: the base machines, per-run copies, running Windows
programs in them, and snapshots of the registry and the Windows directory.

There are two base prefixes: a 32-bit one (WINEARCH=win32, run by 32-bit Wine, as 32-bit
Windows) and a 64-bit one (run by 64-bit Wine, which starts 32-bit programs under WOW64 with
32-bit Wine, as 64-bit Windows). Each is made once (about 10 s) and copied for each run
(about 1 s); a persistent wineserver per prefix makes each program start cost a few
hundredths of a second.
"""
import fcntl
import hashlib
import os
import re
import shutil
import subprocess
import tempfile

WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
# Debian's wine32:i386 (no /usr/bin/wine without the wine package itself).
WINE32 = "/usr/lib/wine/wine" if os.path.exists("/usr/lib/wine/wine") else (
    shutil.which("wine") or "/usr/lib/wine/wine")
ARCHES = ("win32", "win64")
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"

# Every prefix: no display (message boxes work without an X server), and Wine's relay trace
# of MessageBoxA, which tells the tests the type each box was asked for: a box in another
# process does not show which icon it carries.
BASE_REGISTRY = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="user32.MessageBoxA"
"""

# Windows has numbered control sets with CurrentControlSet linking to one of them; Wine's
# CurrentControlSet is a real key. Link ControlSet001 to it, written into the registry file
# while no wineserver runs, so that both names reach the same keys as on Windows.
CONTROL_SET_LINK_TARGET = "\\Registry\\Machine\\System\\CurrentControlSet"


def control_set_link_entry():
    data = ",".join(f"{byte:02x}" for byte in CONTROL_SET_LINK_TARGET.encode("utf-16-le"))
    return f'\n[System\\\\ControlSet001]\n#link\n"SymbolicLinkValue"=hex(6):{data}\n'


# What a real machine of each family has and the uninstaller relies on.
MACHINES = {
    "nt": {
        "registry": r"""
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}]
@="Modem"
"Class"="Modem"
""",
        "folders": [],
    },
    "win98": {
        # The AppDefaults version makes Wine report platform 1, build 0x040A08AE to the
        # program and delete whole subtrees in RegDeleteKeyA, as Windows 98 does.
        "registry": r"""
[HKEY_CURRENT_USER\Software\Wine\AppDefaults\QuendalUninstall.exe]
"Version"="win98"

[HKEY_LOCAL_MACHINE\Enum\Root\Ports]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\VMM32Files]
""",
        "folders": [r"%WINDIR%\inf\OTHER"],
    },
}

# The Windows and system directories under Wine, relative to the prefix: of every program in a
# 32-bit prefix, of a 64-bit program in a 64-bit one (a 32-bit program there has its system32
# redirected to syswow64, which is why it hands the run to the 64-bit edition).
# (On a real Windows 98 machine the system directory is WINDOWS\SYSTEM.)
MACHINE_DIRS = {"%WINDIR%": "drive_c/windows", "%SYSTEM%": "drive_c/windows/system32"}
# Roots of the registry the snapshots cover.
SNAPSHOT_KEYS = (r"HKLM\System", r"HKLM\Enum")
# Left out of the snapshots: the volatile keys in which Wine records its display devices,
# made anew with new names by the first program of each wineserver session that opens the
# display, before or after the first snapshot as it happens. No run of ours touches them.
# Nor the counter that Wine's services.exe raises in ServiceCurrent each time it starts, which
# a version change of the prefix can cause during a run.
UNSNAPPED_KEYS = (r"hklm\system\currentcontrolset\control\video",
                  r"hklm\system\currentcontrolset\control\servicecurrent")


def loader(prefix):
    """The Wine loader of the prefix's architecture: only a 64-bit prefix has a SysWOW64."""
    syswow64 = os.path.join(prefix, "drive_c", "windows", "syswow64")
    return WINE64 if os.path.isdir(syswow64) else WINE32


def environment(prefix, relay=False):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all,+relay" if relay else "-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def run(prefix, *args, relay=False, timeout=40, cwd=None):
    """Runs a Windows program with code page 932 as the ANSI code page, in `cwd` (a Linux path
    in the prefix: Wine starts the program in the Windows folder it maps to). Its output goes
    through files: Wine's background processes (services.exe and others) inherit the
    output handles and would keep pipes open after the program has ended."""
    env = environment(prefix, relay)
    env["LC_ALL"] = "ja_JP.UTF-8"
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([loader(prefix), *args], env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout, cwd=cwd)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def server(prefix, option):
    """wineserver -p (stay up), -k (end it, saving the registry) or -w (wait for its end).
    -k fails when no server runs, which is fine."""
    # The server of -p forks into the background: it must not hold our pipes open.
    subprocess.run([WINESERVER, option], env=environment(prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60, check=option == "-p")


def host_path(prefix, machine_path):
    """The Linux path of a %WINDIR%\\... or %SYSTEM%\\... path of the machine."""
    root, _, rest = machine_path.partition("\\")
    if root not in MACHINE_DIRS:
        raise ValueError(f"{machine_path}: starts with neither %WINDIR% nor %SYSTEM%")
    return os.path.join(prefix, MACHINE_DIRS[root], *rest.split("\\"))


def machine_windows_path(machine_path):
    """The Windows path of a %WINDIR%\\... or %SYSTEM%\\... path as programs in the prefix see
    it (C:\\windows\\system32\\...)."""
    root, _, rest = machine_path.partition("\\")
    if root not in MACHINE_DIRS:
        raise ValueError(f"{machine_path}: starts with neither %WINDIR% nor %SYSTEM%")
    folder = MACHINE_DIRS[root][len("drive_c/"):].replace("/", "\\")
    return "C:\\" + folder + ("\\" + rest if rest else "")


def windows_path(prefix, host):
    return "C:\\" + os.path.relpath(host, os.path.join(prefix, "drive_c")).replace("/", "\\")


def load_registry(prefix, lines):
    """regedit /S of REGEDIT4 lines."""
    path = os.path.join(prefix, "drive_c", "seed.reg")
    with open(path, "w", encoding="cp932", newline="\r\n") as f:
        f.write("REGEDIT4\n\n" + "\n".join(lines) + "\n")
    result = run(prefix, "regedit", "/S", windows_path(prefix, path))
    os.remove(path)
    if result.returncode != 0:
        raise RuntimeError(f"regedit failed: {result.stderr.decode(errors='replace')}")


def base_recipe(arch, wow64):
    wine = WINE32 if arch == "win32" else WINE64
    version = subprocess.run([wine, "--version"], capture_output=True, text=True).stdout
    recipe = arch + version + BASE_REGISTRY + control_set_link_entry()
    if wow64 and arch == "win64":
        recipe += "wow64"
    return hashlib.sha256(recipe.encode()).hexdigest()


def make_base(prefix, arch, wow64):
    """Creates the base prefix unless one made the same way is there already. Test runs in
    the same checkout may overlap: the first makes the base, the others wait for it. A 64-bit
    prefix made while 32-bit Wine could not run has an empty syswow64, where a 32-bit program
    fails to start (STATUS_DLL_NOT_FOUND): `wow64` (32-bit Wine runs) is part of the recipe."""
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = os.path.join(prefix, "e2e-recipe")
        recipe = base_recipe(arch, wow64)
        if os.path.exists(stamp) and open(stamp).read() == recipe:
            return False
        build_base(prefix, arch)
        with open(stamp, "w") as f:
            f.write(recipe)
        return True


def build_base(prefix, arch):
    server(prefix, "-k")
    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(environment(prefix), WINEARCH=arch)
    subprocess.run([WINE32 if arch == "win32" else WINE64, "wineboot", "--init"], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, check=True)
    load_registry(prefix, BASE_REGISTRY.splitlines()[1:])
    server(prefix, "-k")
    server(prefix, "-w")
    with open(os.path.join(prefix, "system.reg"), "a", encoding="ascii") as f:
        f.write(control_set_link_entry())


def copy_prefix(base, prefix):
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    subprocess.run(["cp", "-a", base, prefix], check=True)


# Registry snapshots, from `reg export` (UTF-16LE, one "[key]" line and "name"=data lines).

def canonical_key(path):
    """Lower case, HKLM spelled short, ControlSet001 (a link) named as CurrentControlSet."""
    key = path.strip("\\").lower()
    key = re.sub(r"^hkey_local_machine\\", r"hklm\\", key)
    return re.sub(r"^hklm\\system\\controlset001(?=\\|$)", r"hklm\\system\\currentcontrolset", key)


def split_value_line(line):
    if line.startswith("@="):
        return "@", line[2:]
    match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
    if not match:
        raise ValueError(f"unreadable line in a registry export: {line!r}")
    return re.sub(r"\\(.)", r"\1", match.group(1)), match.group(2)


def parse_export(text):
    """{canonical key: {lower-case value name: (name, data as written)}}."""
    keys, current, pending = {}, None, ""
    for raw in text.splitlines():
        line = pending + raw.strip()
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(canonical_key(line[1:-1]), {})
        elif current is not None and line and not line.startswith(("Windows Registry", ";")):
            name, data = split_value_line(line)
            current[name.lower()] = (name, data)
    return keys


def registry_snapshot(prefix):
    keys = {}
    out = os.path.join(prefix, "drive_c", "export.reg")
    for root in SNAPSHOT_KEYS:
        result = run(prefix, "reg", "export", root, windows_path(prefix, out), "/y")
        if result.returncode != 0:
            continue  # the root does not exist on this machine
        with open(out, "rb") as f:
            keys.update(parse_export(f.read().decode("utf-16")))
        os.remove(out)
    return {key: values for key, values in keys.items()
            if not any(key == root or key.startswith(root + "\\") for root in UNSNAPPED_KEYS)}


def file_snapshot(prefix):
    """{lower-case path below drive_c/windows: (size, writable)} of every file and folder
    (size -1 for a folder). Wine shows a file without write permission as read-only."""
    root = os.path.join(prefix, MACHINE_DIRS["%WINDIR%"])
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            status = os.stat(path)
            size = -1 if os.path.isdir(path) else status.st_size
            found[os.path.relpath(path, root).lower()] = (size, bool(status.st_mode & 0o222))
    return found


def machine_file_key(machine_path):
    """The file snapshot's key of a %WINDIR%\\... or %SYSTEM%\\... path."""
    fake_prefix = "/"
    host = host_path(fake_prefix, machine_path)
    return os.path.relpath(host, os.path.join(fake_prefix, MACHINE_DIRS["%WINDIR%"])).lower()

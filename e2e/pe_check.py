"""Checks of the built executables that need no Windows: what they import, which Windows
versions will load them, their size and their version resource, read back from the files.

Every check is a function returning a list of problems (empty when it passes); run.py
calls them and counts the results.
"""
import glob
import os
import struct

# The caption of the program's boxes, which the version resource repeats, and its bytes in
# code page 932 as the program shows them.
PRODUCT_CAPTION = "QuendalQ40 PRO For USB ドライバアンインストーラ"
PRODUCT_CAPTION_CP932 = bytes.fromhex(
    "5175656e64616c5134302050524f20466f722055534220"
    "836883898343836f834183938343839383588367815b8389")
ALLOWED_DLLS = ("KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL")
MAX_RELEASE_SIZE = 32 * 1024
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_JAPANESE = 0x0411
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2


class Image:
    """The parts of a PE file the checks read."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.size = len(self.data)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: not a PE file")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        (self.os_version, self.image_version, self.subsystem_version) = (
            struct.unpack_from("<HH", self.data, optional + 40),
            struct.unpack_from("<HH", self.data, optional + 44),
            struct.unpack_from("<HH", self.data, optional + 48))
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(virtual_size, raw_size),
                                  raw_offset))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name: [function names]}; an import by ordinal shows up as '#<ordinal>'."""
        rva, _ = self.directories[1]
        result = {}
        pointer_size = 4 if self.magic == 0x10B else 8
        ordinal_flag = 1 << (8 * pointer_size - 1)
        descriptor = self.offset(rva)
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, descriptor)
            if name == 0:
                return result
            functions = result.setdefault(self.c_string(name), [])
            thunk = self.offset(lookup or first_thunk)
            while True:
                entry = int.from_bytes(self.data[thunk:thunk + pointer_size], "little")
                if entry == 0:
                    break
                functions.append(f"#{entry & 0xFFFF}" if entry & ordinal_flag
                                 else self.c_string(entry + 2))
                thunk += pointer_size
            descriptor += 20

    def resources(self):
        """{(type, name, language): data} of every resource with a numeric type and name."""
        rva, _ = self.directories[2]
        if not rva:
            return {}
        base = self.offset(rva)
        found = {}

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield ident, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang_id, leaf in entries(name_dir & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found[(type_id, name_id, lang_id)] = self.data[start:start + size]
        return found


def version_block(data, start):
    """One node of a version resource: (key, value bytes, children, end offset)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, start)
    end = start + length
    key_end = start + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[start + 6:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child = version_block(data, position)
        children.append(child)
        position = (child[3] + 3) & ~3
    return key, value, children, end


def wide_text(value):
    return value.decode("utf-16-le").split("\0")[0]


# The checks. Each takes what it needs and returns a list of problems.

def check_imports(image, exports_dir):
    problems = []
    for dll, functions in image.imports().items():
        if dll.upper() not in ALLOWED_DLLS:
            problems.append(f"imports from {dll}")
            continue
        listing = os.path.join(exports_dir, dll.upper() + ".txt")
        with open(listing, encoding="ascii") as f:
            known = set(f.read().split())
        for function in functions:
            if function not in known:
                problems.append(f"{dll}!{function} is not exported by Windows 98 SE")
    return problems


def gui_image_problems(image, machine, magic, kind):
    problems = []
    if image.machine != machine or image.magic != magic:
        problems.append(f"not a {kind} image (machine {image.machine:#x})")
    if image.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        problems.append(f"subsystem {image.subsystem}, not the Windows GUI")
    return problems


def check_loads_on_windows_98(image):
    problems = gui_image_problems(image, 0x14C, 0x10B, "PE32 for i386")
    if image.os_version != (4, 0):
        problems.append("OS version %d.%d, not 4.0" % image.os_version)
    if image.subsystem_version != (4, 0):
        problems.append("subsystem version %d.%d, not 4.0" % image.subsystem_version)
    if image.size > MAX_RELEASE_SIZE:
        problems.append(f"{image.size} bytes, more than {MAX_RELEASE_SIZE}")
    return problems


def check_runs_on_64_bit_windows(image):
    return gui_image_problems(image, 0x8664, 0x20B, "PE32+ for x64")


def check_version_resource(image, file_name):
    resources = image.resources()
    data = resources.get((RT_VERSION, 1, LANG_JAPANESE))
    if data is None:
        return ["no version resource 1 in language 0x0411"]
    problems = []
    key, fixed, children, _ = version_block(data, 0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        return ["malformed version resource"]
    if (file_ms, file_ls, product_ms, product_ls) != (0x00010002, 0, 0x00010002, 0):
        problems.append("file or product version is not 1.2.0.0: %08x %08x %08x %08x"
                        % (file_ms, file_ls, product_ms, product_ls))
    blocks = {child[0]: child for child in children}
    tables = {table[0].lower(): table for table in blocks.get("StringFileInfo", ("", b"", []))[2]}
    table = tables.get("041103a4")
    if table is None:
        problems.append(f"no string table 041103A4 (found {sorted(tables)})")
    else:
        strings = {entry[0]: wide_text(entry[1]) for entry in table[2]}
        for name in ("FileDescription", "ProductName"):
            text = strings.get(name, "")
            if text.encode("cp932", errors="replace") != PRODUCT_CAPTION_CP932:
                problems.append(f"{name} reads back as {text!r}, not {PRODUCT_CAPTION!r}")
        for name in ("FileVersion", "ProductVersion"):
            if strings.get(name) != "1.2.0.0":
                problems.append(f"{name} is {strings.get(name)!r}")
        if strings.get("OriginalFilename") != file_name:
            problems.append(f"OriginalFilename is {strings.get('OriginalFilename')!r}")
    variables = {var[0]: var[1] for var in blocks.get("VarFileInfo", ("", b"", []))[2]}
    if variables.get("Translation") != struct.pack("<HH", LANG_JAPANESE, 932):
        problems.append(f"Translation is {variables.get('Translation')!r}, not 0x0411/932")
    return problems


def check_icon_and_manifest(image):
    resources = image.resources()
    types = {key[0] for key in resources}
    problems = []
    if RT_ICON not in types or RT_GROUP_ICON not in types:
        problems.append("no icon")
    manifest = [data for key, data in resources.items() if key[:2] == (RT_MANIFEST, 1)]
    if not manifest or b'level="requireAdministrator"' not in manifest[0]:
        problems.append("no manifest 1 requesting administrator rights")
    return problems


def coff_section_names(path):
    with open(path, "rb") as f:
        data = f.read()
    _, sections, _, symbols, symbol_count, optional_size, _ = struct.unpack_from(
        "<HHIIIHH", data, 0)
    strings = symbols + 18 * symbol_count
    names = []
    for i in range(sections):
        raw = data[20 + optional_size + 40 * i:][:8].rstrip(b"\0").decode("ascii")
        if raw.startswith("/"):
            start = strings + int(raw[1:])
            raw = data[start:data.index(b"\0", start)].decode("ascii")
        names.append(raw)
    return names


def check_no_dynamic_initialisation(object_dir):
    """Nothing runs constructors in this program, so a global that needs one would silently
    stay zero: no object file may carry a constructor list."""
    objects = glob.glob(os.path.join(object_dir, "**", "*.obj"), recursive=True)
    if not objects:
        return [f"no object files under {object_dir}"]
    problems = []
    for path in sorted(objects):
        for name in coff_section_names(path):
            if name.startswith((".ctors", ".init_array", ".CRT$XC")):
                problems.append(f"{os.path.relpath(path, object_dir)} has section {name}")
    return problems


# The release as shipped (build/release/) and the build folder of each of its programs.
RELEASE = (("QuendalUninstall.exe", "win32"), ("QuendalUninstall64.exe", "win64"))


def all_checks(build_dir, exports_dir):
    """[(name, problems)] for both programs of the release."""
    results = []
    for file_name, arch in RELEASE:
        image = Image(os.path.join(build_dir, "release", file_name))
        results.append((f"{file_name}: imports only Windows 98 SE functions of the three DLLs",
                        check_imports(image, exports_dir)))
        results.append((f"{file_name}: version resource reads back",
                        check_version_resource(image, file_name)))
        results.append((f"{file_name}: icon and administrator manifest",
                        check_icon_and_manifest(image)))
        results.append((f"{file_name}: no global needs a constructor",
                        check_no_dynamic_initialisation(
                            os.path.join(build_dir, arch, "app", "CMakeFiles"))))
        if arch == "win32":
            results.append((f"{file_name}: GUI PE32 for Windows 4.0, {image.size} bytes",
                            check_loads_on_windows_98(image)))
        else:
            results.append((f"{file_name}: GUI PE32+ for x64", check_runs_on_64_bit_windows(image)))
    return results

// Reading machine files and setting the simulated machine up from them.
#include "tools/machine_file.h"

#include "tools/encoding.h"
#include "tools/error_names.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace {

// The state of one pass over a machine file.
struct machine_reader {
  std::vector<std::string> lines;
  size_t index; // the line being read
  std::string file;
  std::string base_directory;
  machine_description *machine;
  load_error *error;
  bool have_platform;
};

} // namespace

static int line_number(const machine_reader &r) {
  return static_cast<int>(r.index) + 1;
}

static bool reader_fail(machine_reader &r, const std::string &what) {
  r.error->file = r.file;
  r.error->line = line_number(r);
  r.error->what = what;
  return false;
}

static bool blank(char c) {
  return c == ' ' || c == '\t';
}

static bool indented(const std::string &line) {
  return !line.empty() && blank(line[0]);
}

static bool all_blank(const std::string &line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// Blank-separated words; a word in double quotes may hold blanks.
static bool split_words(machine_reader &r, const std::string &line,
                        std::vector<std::string> &words) {
  for (size_t i = 0; i < line.size();) {
    if (blank(line[i]) || line[i] == '\r') {
      ++i;
      continue;
    }
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos)
        return reader_fail(r, "a quoted argument is not closed");
      words.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && !blank(line[end]) && line[end] != '\r')
        ++end;
      words.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

// A whole word as a number: decimal, or hexadecimal after 0x.
static bool parse_number(const std::string &word, DWORD &value) {
  if (word.empty())
    return false;
  size_t used = 0;
  unsigned long long n = 0;
  try {
    n = std::stoull(word, &used, word.compare(0, 2, "0x") == 0 ? 16 : 10);
  } catch (...) {
    return false;
  }
  if (used != word.size() || n > 0xFFFFFFFFull || word[0] == '-' || word[0] == '+')
    return false;
  value = static_cast<DWORD>(n);
  return true;
}

static bool number_arg(machine_reader &r, const std::string &word, const std::string &what,
                       DWORD &value) {
  if (!parse_number(word, value))
    return reader_fail(r, what + " must be a number (decimal or 0x hex), not '" + word + "'");
  return true;
}

// An argument as the machine stores it: code page 932.
static bool name_arg(machine_reader &r, const std::string &word, std::string &out) {
  if (!utf8_to_cp932(word, out))
    return reader_fail(r, "'" + word + "' is not UTF-8 text that code page 932 can hold");
  return true;
}

// A file or folder argument: a full path on a drive, as the machine keeps its files.
static bool path_arg(machine_reader &r, const std::string &word, std::string &out) {
  bool full = word.size() >= 3 && isalpha(static_cast<unsigned char>(word[0])) && word[1] == ':' &&
              (word[2] == '\\' || word[2] == '/');
  if (!full)
    return reader_fail(r, "'" + word + "' is not a full path such as C:\\WINDOWS\\inf");
  return name_arg(r, word, out);
}

// "key=value" options after the fixed arguments.
static bool option_value(const std::string &word, const std::string &key, std::string &value) {
  if (word.compare(0, key.size() + 1, key + "=") != 0)
    return false;
  value = word.substr(key.size() + 1);
  return true;
}

static std::string join_path(const std::string &directory, const std::string &name) {
  if (directory.empty() || (!name.empty() && name[0] == '/'))
    return name;
  return directory + "/" + name;
}

bool read_bytes(const std::string &path, std::string &bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return true;
}

// The indented lines after the current one, their common indentation removed. Leaves
// r.index on the last line of the block.
static std::vector<std::string> take_block(machine_reader &r) {
  std::vector<std::string> block;
  size_t end = r.index + 1;
  size_t last = r.index;
  for (; end < r.lines.size() && (indented(r.lines[end]) || all_blank(r.lines[end])); ++end)
    if (!all_blank(r.lines[end]))
      last = end;
  if (last == r.index)
    return block;
  size_t indent = 0;
  for (size_t i = r.index + 1; i <= last; ++i)
    if (!all_blank(r.lines[i])) {
      indent = r.lines[i].find_first_not_of(" \t");
      break;
    }
  for (size_t i = r.index + 1; i <= last; ++i) {
    std::string line = r.lines[i];
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (all_blank(line)) {
      block.emplace_back();
      continue;
    }
    block.push_back(line.substr(std::min(indent, line.find_first_not_of(" \t"))));
  }
  r.index = last;
  return block;
}

static bool read_platform(machine_reader &r, const std::vector<std::string> &w) {
  machine_description &m = *r.machine;
  if (r.have_platform)
    return reader_fail(r, "a second platform line");
  if (w.size() != 4 || (w[1] != "nt" && w[1] != "win98"))
    return reader_fail(r, "expected: platform nt|win98 MAJOR.MINOR BUILD");
  size_t dot = w[2].find('.');
  if (dot == std::string::npos || !parse_number(w[2].substr(0, dot), m.major) ||
      !parse_number(w[2].substr(dot + 1), m.minor))
    return reader_fail(r, "the version must be MAJOR.MINOR, such as 5.0 or 4.10");
  if (!number_arg(r, w[3], "the build", m.build))
    return false;
  m.win98 = w[1] == "win98";
  r.have_platform = true;
  return true;
}

std::string windows_directory(const machine_description &m) {
  return m.windows_directory.empty() ? "C:\\WINDOWS" : m.windows_directory;
}

std::string system_directory(const machine_description &m) {
  if (!m.system_directory.empty())
    return m.system_directory;
  return windows_directory(m) + (m.win98 ? "\\SYSTEM" : "\\system32");
}

static const struct {
  const char *word;
  DWORD attribute;
} file_attribute_words[] = {{"read-only", FILE_ATTRIBUTE_READONLY},
                            {"hidden", FILE_ATTRIBUTE_HIDDEN},
                            {"system", FILE_ATTRIBUTE_SYSTEM},
                            {"archive", FILE_ATTRIBUTE_ARCHIVE},
                            {"normal", FILE_ATTRIBUTE_NORMAL}};

// Attribute words and key=value options (checked when they are read).
static bool is_file_option(const std::string &word) {
  for (const auto &a : file_attribute_words)
    if (word == a.word)
      return true;
  return word == "loaded" || word.find('=') != std::string::npos;
}

static bool read_file_options(machine_reader &r, const std::vector<std::string> &w, size_t first,
                              machine_file_entry &f) {
  DWORD chosen = 0;
  for (size_t i = first; i < w.size(); ++i) {
    std::string value;
    bool known = false;
    for (const auto &a : file_attribute_words)
      if (w[i] == a.word) {
        chosen |= a.attribute;
        known = true;
      }
    if (known)
      continue;
    if (w[i] == "loaded") {
      f.loaded = true;
    } else if (option_value(w[i], "delete-error", value)) {
      if (!number_arg(r, value, "delete-error", f.delete_error))
        return false;
    } else if (option_value(w[i], "attributes-error", value)) {
      if (!number_arg(r, value, "attributes-error", f.attributes_error))
        return false;
    } else {
      return reader_fail(r, "unknown file option '" + w[i] + "'");
    }
  }
  if (chosen)
    f.attributes = chosen;
  return true;
}

static bool read_file(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 2)
    return reader_fail(r, "expected: file PATH [attributes] [loaded] [delete-error=N] "
                          "[attributes-error=N]");
  machine_file_entry f;
  if (!path_arg(r, w[1], f.path) || !read_file_options(r, w, 2, f))
    return false;
  r.machine->files.push_back(f);
  return true;
}

static bool read_folder(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() != 2)
    return reader_fail(r, "expected: folder PATH");
  machine_file_entry f;
  f.folder = true;
  f.attributes = FILE_ATTRIBUTE_DIRECTORY;
  if (!path_arg(r, w[1], f.path))
    return false;
  r.machine->files.push_back(f);
  return true;
}

// A backslash-separated name of at least `least` and at most `most` (0: any number of)
// components, none of them empty.
static bool backslash_path(const std::string &name, size_t least, size_t most) {
  size_t components = 1;
  for (size_t i = find_char_of(name, "\\"); i != std::string::npos;) {
    if (i == 0 || i + 1 == name.size() || name[i + 1] == '\\')
      return false;
    ++components;
    size_t next = find_char_of(name.substr(i + 1), "\\");
    i = next == std::string::npos ? next : i + 1 + next;
  }
  return !name.empty() && components >= least && (most == 0 || components <= most);
}

// A device's "Driver" value: its class key's name and its number, "{class GUID}\NNNN".
static bool is_driver_key_name(const std::string &name) {
  return backslash_path(name, 2, 2) && name[0] == '{' && name[find_char_of(name, "\\") - 1] == '}';
}

static bool read_device(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 2)
    return reader_fail(r, "expected: device INSTANCE-ID [HARDWARE-ID ...] [absent] "
                          "[removed-at-restart] [remove-error=N] [driver=CLASS-GUID\\NNNN]");
  sim::device d;
  if (!name_arg(r, w[1], d.instance_id))
    return false;
  if (!backslash_path(d.instance_id, 2, 0))
    return reader_fail(r, "'" + w[1] +
                              "' is not a device instance id such as "
                              "USB\\VID_1E7A&PID_0080\\5&1A2B3C4D&0&1");
  d.has_hardware_ids = false;
  for (size_t i = 2; i < w.size(); ++i) {
    std::string value;
    if (w[i] == "absent") {
      d.present = false;
    } else if (w[i] == "removed-at-restart") {
      d.remove_flags = DI_NEEDREBOOT;
    } else if (option_value(w[i], "remove-error", value)) {
      if (!number_arg(r, value, "remove-error", d.remove_error))
        return false;
    } else if (option_value(w[i], "driver", value)) {
      if (!name_arg(r, value, d.driver))
        return false;
      // Windows deletes this key with the device: a malformed name would name another key.
      if (!is_driver_key_name(d.driver))
        return reader_fail(r, "driver=" + value +
                                  " is not a driver key such as "
                                  "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000");
    } else {
      std::string id;
      if (!name_arg(r, w[i], id))
        return false;
      d.hardware_ids += id + '\0';
      d.has_hardware_ids = true;
    }
  }
  if (d.has_hardware_ids)
    d.hardware_ids += '\0';
  r.machine->devices.push_back(d);
  return true;
}

static bool read_inf(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 2)
    return reader_fail(r, "expected: inf NAME [FILE] [file options], or inf NAME and indented "
                          "lines");
  machine_file_entry f;
  std::string name;
  if (!name_arg(r, w[1], name))
    return false;
  f.path = windows_directory(*r.machine) + "\\inf\\" + name;
  // A word that is no file option names the file holding the text.
  std::vector<std::string> options(w.begin(), w.begin() + 2);
  std::string text_file;
  for (size_t i = 2; i < w.size(); ++i) {
    if (is_file_option(w[i]))
      options.push_back(w[i]);
    else if (text_file.empty())
      text_file = w[i];
    else
      return reader_fail(r, "inf takes one FILE, not '" + text_file + "' and '" + w[i] + "'");
  }
  if (!read_file_options(r, options, 2, f))
    return false;
  if (!text_file.empty()) {
    if (!read_bytes(join_path(r.base_directory, text_file), f.contents))
      return reader_fail(r, "cannot read the INF file '" + text_file + "'");
    r.machine->inputs.push_back(join_path(r.base_directory, text_file));
  } else {
    size_t start = r.index;
    std::vector<std::string> block = take_block(r);
    if (block.empty())
      return reader_fail(r, "inf " + w[1] + " needs a FILE or indented lines of INF text");
    for (size_t i = 0; i < block.size(); ++i) {
      std::string converted;
      r.index = start + 1 + i;
      if (!name_arg(r, block[i], converted))
        return false;
      f.contents += converted + "\r\n";
    }
  }
  r.machine->files.push_back(f);
  return true;
}

// The original INF's name in a store folder's name: up to and including its ".inf", which
// Windows follows with the architecture and a hash ("q40pusb.inf_x86_1a2b3c4d"); "" when the
// name has no such part.
static std::string package_inf_name(const std::string &folder) {
  std::string upper = ascii_upper(folder);
  size_t at = upper.find(".INF_");
  return at == std::string::npos || at == 0 ? std::string() : folder.substr(0, at + 4);
}

static bool read_package(machine_reader &r, const std::vector<std::string> &w) {
  const machine_description &m = *r.machine;
  if (w.size() != 3)
    return reader_fail(r, "expected: package OEM-INF FOLDER");
  if (m.win98 || m.major < 6)
    return reader_fail(r, "a driver package on a machine before Windows Vista (6.0): the driver "
                          "store came with Vista");
  machine_package p;
  if (!name_arg(r, w[1], p.oem_inf) || !name_arg(r, w[2], p.folder))
    return false;
  if (find_char_of(p.oem_inf, "\\/:") != std::string::npos)
    return reader_fail(r, "'" + w[1] + "' is not a bare INF name such as oem3.inf");
  if (find_char_of(p.folder, "\\/:") != std::string::npos || package_inf_name(p.folder).empty())
    return reader_fail(r, "'" + w[2] +
                              "' is not a driver store folder name such as "
                              "q40pusb.inf_x86_1a2b3c4d");
  r.machine->packages.push_back(p);
  return true;
}

// A .reg file read: an input of the machine, whose format the first one gives.
static void note_reg_file(machine_description &m, const std::string &path, reg_format format) {
  m.inputs.push_back(path);
  if (!m.has_reg_format) {
    m.has_reg_format = true;
    m.registry_format = format;
  }
}

bool add_reg_file(machine_description &m, const std::string &path, load_error &error) {
  reg_format format = reg_format_regedit5;
  if (!read_reg_file(path, format, m.registry, error, &m.warnings))
    return false;
  note_reg_file(m, path, format);
  return true;
}

// Whether a key path lies in CurrentControlSet's branch of SYSTEM.
static bool in_current_control_set(const std::string &key) {
  static const char branch[] = "SYSTEM\\CurrentControlSet";
  size_t n = sizeof branch - 1;
  return ascii_starts_with(key, branch) && (key.size() == n || key[n] == '\\');
}

bool add_reg_export(machine_description &m, const std::string &path, load_error &error) {
  if (!m.registry_keys)
    m.registry_keys = sim::registry_tree_new();
  sim::registry_tree &keys = *m.registry_keys;
  reg_op_list &replayed = m.registry;
  bool nt = !m.win98;
  // regedit exports the content of CurrentControlSet, NT's link to the control set that
  // SYSTEM\Select names, in full beside that control set. Those keys are kept as operations
  // (applied after the keys, through the link, with Select in place), not held twice as keys.
  // A value belongs to the key line before it: the choice is made at each key line.
  bool replay = false;
  auto sink = [&keys, &replayed, nt, &replay](const reg_op &op) {
    if (op.kind == reg_op::add_key || op.kind == reg_op::delete_key)
      replay = nt && in_current_control_set(op.key);
    if (replay)
      add_reg_op(replayed, op);
    else
      apply_reg(op, keys);
  };
  reg_format format = reg_format_regedit5;
  if (!read_reg_file(path, format, sink, error, &m.warnings))
    return false;
  note_reg_file(m, path, format);
  return true;
}

static bool read_registry(machine_reader &r, const std::vector<std::string> &w) {
  machine_description &m = *r.machine;
  if (w.size() == 2) {
    std::string path = join_path(r.base_directory, w[1]);
    if (!std::ifstream(path))
      return reader_fail(r, "cannot read the .reg file '" + w[1] + "'");
    return add_reg_file(m, path, *r.error);
  }
  if (w.size() != 1)
    return reader_fail(r, "expected: registry FILE, or registry and indented lines");
  size_t start = r.index;
  std::vector<std::string> block = take_block(r);
  if (block.empty())
    return reader_fail(r, "registry needs a FILE or indented lines of .reg text");
  for (size_t i = 0; i < block.size(); ++i) {
    std::string converted;
    r.index = start + 1 + i;
    if (!name_arg(r, block[i], converted))
      return false;
    block[i] = converted;
  }
  r.index = start + block.size();
  std::vector<reg_op> ops;
  if (!read_reg_body(block, static_cast<int>(start) + 2, reg_format_regedit4, r.file, ops, *r.error,
                     &m.warnings))
    return false;
  for (const reg_op &op : ops)
    add_reg_op(m.registry, op);
  return true;
}

static bool read_link(machine_reader &r, const std::vector<std::string> &w) {
  std::string alias, target;
  if (w.size() != 3)
    return reader_fail(r, "expected: link ALIAS TARGET");
  if (!name_arg(r, w[1], alias) || !name_arg(r, w[2], target))
    return false;
  r.machine->links.emplace_back(alias, target);
  return true;
}

static bool read_deny_key(machine_reader &r, const std::vector<std::string> &w) {
  std::string path;
  if (w.size() != 3 || (w[2] != "write" && w[2] != "all"))
    return reader_fail(r, "expected: deny-key PATH write|all");
  if (r.machine->win98)
    return reader_fail(r, "deny-key on a Windows 98 machine: Windows 98 has no registry "
                          "security, every key opens for every access");
  if (!name_arg(r, w[1], path))
    return false;
  r.machine->denied_keys.emplace_back(path, w[2] == "write" ? KEY_WRITE : KEY_ALL_ACCESS);
  return true;
}

// What a fault rule's SUBJECT is matched against, by function (see sim::fault). The
// functions of the first kinds are only ever called on something that exists, so their
// subject must name something on the machine.
enum subject_kind {
  subject_open_key,      // a key the uninstaller has open
  subject_open_value,    // key path + "\\" + value name, of an open key
  subject_existing_file, // a file whose attributes were just set, so it exists
  subject_device,        // a device instance id
  subject_open_inf,      // the name an open INF was opened by
  subject_key,           // a key path, perhaps of a key that does not exist
  subject_file,          // a file path, perhaps of a file that does not exist
  subject_inf,           // an INF name, perhaps of a file that does not exist
  subject_module,        // a module name as the uninstaller loads it
  subject_export,        // a function name
  subject_text,          // the caption, the code, the privilege or the enumerator
  subject_none,          // the function has no subject
  subject_cannot_fail,   // the function cannot fail
};

static const struct {
  const char *function;
  subject_kind kind;
} simulated_functions[] = {
    {"RegOpenKeyExA", subject_key},
    {"RegCloseKey", subject_open_key},
    {"RegEnumKeyExA", subject_open_key},
    {"RegDeleteKeyA", subject_key},
    {"RegEnumValueA", subject_open_key},
    {"RegDeleteValueA", subject_open_value},
    {"RegFlushKey", subject_open_key},
    {"SetFileAttributesA", subject_file},
    {"DeleteFileA", subject_existing_file},
    {"GetWindowsDirectoryA", subject_none},
    {"GetSystemDirectoryA", subject_none},
    {"SetupDiGetClassDevsA", subject_text},
    {"SetupDiEnumDeviceInfo", subject_device},
    {"SetupDiGetDeviceRegistryPropertyA", subject_device},
    {"SetupDiCallClassInstaller", subject_device},
    {"SetupDiDestroyDeviceInfoList", subject_none},
    {"SetupOpenInfFileA", subject_inf},
    {"SetupGetLineTextA", subject_open_inf},
    {"SetupCloseInfFile", subject_open_inf},
    {"SetupUninstallOEMInfA", subject_inf},
    {"LoadLibraryA", subject_module},
    {"GetProcAddress", subject_export},
    {"FreeLibrary", subject_module},
    {"LocalAlloc", subject_none},
    {"LocalFree", subject_none},
    {"FormatMessageA", subject_text},
    {"MessageBoxA", subject_text},
    {"GetVersionExA", subject_none},
    {"ExitWindowsEx", subject_none},
    {"OpenProcessToken", subject_none},
    {"LookupPrivilegeValueA", subject_text},
    {"AdjustTokenPrivileges", subject_none},
    {"GetCurrentProcess", subject_cannot_fail},
    {"GetLastError", subject_cannot_fail},
    {"SetLastError", subject_cannot_fail},
    {"lstrlenA", subject_cannot_fail},
};

// The names the uninstaller passes to LoadLibraryA.
static const char *const loaded_modules[] = {"kernel32", "advapi32", "setupapi", "user32"};

static const subject_kind *function_kind(const std::string &function) {
  for (const auto &f : simulated_functions)
    if (function == f.function)
      return &f.kind;
  return nullptr;
}

// A subject that no call of this kind can carry, whatever is on the machine.
static bool check_subject_form(machine_reader &r, const std::string &function, subject_kind kind,
                               const std::string &subject) {
  bool registry = kind == subject_key || kind == subject_open_key || kind == subject_open_value;
  std::string root = subject.substr(0, subject.find('\\'));
  bool hkey =
      !ascii_iequal(root, "HKEY_LOCAL_MACHINE") &&
      (ascii_iequal(root.substr(0, 5), "HKEY_") || ascii_iequal(root, "HKLM") ||
       ascii_iequal(root, "HKCU") || ascii_iequal(root, "HKCR") || ascii_iequal(root, "HKU"));
  if (registry && hkey)
    return reader_fail(r, function + " is called on keys below HKEY_LOCAL_MACHINE only: write '" +
                              subject + "' as HKEY_LOCAL_MACHINE\\... or as the path's tail");
  bool drive = subject.size() >= 2 && std::isalpha(static_cast<unsigned char>(subject[0])) &&
               subject[1] == ':';
  if (registry && drive)
    return reader_fail(r, "'" + subject + "' is a file path; " + function + " takes a key path");
  if ((kind == subject_file || kind == subject_existing_file) &&
      (hkey || ascii_iequal(root, "HKEY_LOCAL_MACHINE")))
    return reader_fail(r, "'" + subject + "' is a key path; " + function + " takes a file path");
  if (kind == subject_module) {
    for (const char *module : loaded_modules)
      if (ascii_iequal(subject, module))
        return true;
    return reader_fail(r, "unknown module '" + subject +
                              "': the uninstaller loads kernel32, advapi32 and setupapi (by "
                              "these names, without .dll)");
  }
  if (kind == subject_export && !function_kind(subject))
    return reader_fail(r, "unknown function '" + subject + "' as the subject of GetProcAddress");
  return true;
}

static bool read_fail(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 3)
    return reader_fail(r, "expected: fail FUNCTION ERROR [SUBJECT] [nth=N] [times=N]");
  sim::fault f;
  f.function = w[1];
  const subject_kind *kind = function_kind(f.function);
  if (!kind)
    return reader_fail(r, "unknown function '" + f.function +
                              "': give a simulated Windows function by its exported name, such "
                              "as DeleteFileA or RegOpenKeyExA");
  if (*kind == subject_cannot_fail)
    return reader_fail(r, f.function + " cannot fail");
  if (!error_code(w[2], f.error) && !number_arg(r, w[2], "the error (or its ERROR_ name)", f.error))
    return false;
  for (size_t i = 3; i < w.size(); ++i) {
    std::string value;
    DWORD n = 0;
    if (option_value(w[i], "nth", value)) {
      if (!number_arg(r, value, "nth", n))
        return false;
      f.nth = static_cast<int>(n);
    } else if (option_value(w[i], "times", value)) {
      if (!number_arg(r, value, "times", n))
        return false;
      f.times = static_cast<int>(n);
    } else if (i == 3) {
      if (!name_arg(r, w[i], f.subject))
        return false;
      if (*kind == subject_none)
        return reader_fail(r, f.function + " has no subject to restrict the rule to");
      if (!check_subject_form(r, f.function, *kind, f.subject))
        return false;
    } else {
      return reader_fail(r, "unknown fail option '" + w[i] + "'");
    }
  }
  r.machine->faults.push_back(f);
  r.machine->fault_lines.push_back(line_number(r));
  return true;
}

static bool read_directory(machine_reader &r, const std::vector<std::string> &w,
                           std::string &directory) {
  if (w.size() != 2)
    return reader_fail(r, "expected: " + w[0] + " PATH");
  return path_arg(r, w[1], directory);
}

static bool read_directive(machine_reader &r, const std::vector<std::string> &w) {
  machine_description &m = *r.machine;
  if (w[0] == "platform")
    return read_platform(r, w);
  if (!r.have_platform)
    return reader_fail(r, "the first directive must be: platform nt|win98 MAJOR.MINOR BUILD");
  if (w[0] == "windows-directory")
    return read_directory(r, w, m.windows_directory);
  if (w[0] == "system-directory")
    return read_directory(r, w, m.system_directory);
  if (w[0] == "file")
    return read_file(r, w);
  if (w[0] == "folder")
    return read_folder(r, w);
  if (w[0] == "device")
    return read_device(r, w);
  if (w[0] == "inf")
    return read_inf(r, w);
  if (w[0] == "package")
    return read_package(r, w);
  if (w[0] == "registry")
    return read_registry(r, w);
  if (w[0] == "link")
    return read_link(r, w);
  if (w[0] == "deny-key")
    return read_deny_key(r, w);
  if (w[0] == "fail")
    return read_fail(r, w);
  return reader_fail(r, "unknown directive '" + w[0] + "'");
}

bool read_machine_text(const std::string &text, const std::string &file_name,
                       const std::string &base_directory, machine_description &machine,
                       load_error &error) {
  machine = machine_description();
  machine.source = file_name;
  machine_reader r{{}, 0, file_name, base_directory, &machine, &error, false};
  // Editors on Windows often start a UTF-8 file with a byte-order mark.
  static const char bom[] = "\xEF\xBB\xBF";
  std::istringstream in(text.compare(0, 3, bom) == 0 ? text.substr(3) : text);
  for (std::string line; std::getline(in, line);)
    r.lines.push_back(line);
  for (; r.index < r.lines.size(); ++r.index) {
    const std::string &line = r.lines[r.index];
    if (all_blank(line) || line[line.find_first_not_of(" \t")] == '#')
      continue;
    if (indented(line))
      return reader_fail(r, "an indented line outside an inf or registry block");
    std::vector<std::string> words;
    if (!split_words(r, line, words) || !read_directive(r, words))
      return false;
  }
  if (!r.have_platform) {
    error = load_error{file_name, 0, "no platform line: the machine needs one", ""};
    return false;
  }
  return true;
}

bool read_machine_file(const std::string &path, machine_description &machine, load_error &error) {
  std::string text;
  if (!read_bytes(path, text)) {
    error = load_error{path, 0, "cannot be read", ""};
    return false;
  }
  size_t slash = path.rfind('/');
  bool read = read_machine_text(text, path, slash == std::string::npos ? "" : path.substr(0, slash),
                                machine, error);
  machine.inputs.insert(machine.inputs.begin(), path);
  return read;
}

static const char enum_branch[] = "SYSTEM\\CurrentControlSet\\Enum";

// The device instances of an NT registry, as Windows keeps them: every key
// Enum\<enumerator>\<device>\<instance> is one, with its "HardwareID" (REG_MULTI_SZ) as its
// hardware ids and its "Driver" as its driver key. The registry cannot say whether a device
// is attached, so every instance counts as present; the uninstaller lists devices with
// DIGCF_ALLCLASSES and without DIGCF_PRESENT, which takes attached and detached ones alike.
// On Windows 98 the uninstaller reads and deletes the Enum keys themselves and asks the
// device installer nothing, so no devices are derived there.
static void add_enum_devices() {
  for (const std::string &enumerator : sim::reg_subkeys(enum_branch)) {
    std::string enumerator_path = std::string(enum_branch) + "\\" + enumerator;
    for (const std::string &device : sim::reg_subkeys(enumerator_path))
      for (const std::string &instance : sim::reg_subkeys(enumerator_path + "\\" + device)) {
        sim::device d;
        d.instance_id = enumerator + "\\" + device + "\\" + instance;
        d.has_hardware_ids = false;
        for (const sim::reg_value_data &v :
             sim::reg_value_list(enumerator_path + "\\" + device + "\\" + instance)) {
          if (ascii_iequal(v.name, "HardwareID") && v.type == REG_MULTI_SZ) {
            d.hardware_ids = v.data;
            d.has_hardware_ids = true;
          } else if (ascii_iequal(v.name, "Driver") && v.type == REG_SZ) {
            std::string driver = v.data.substr(0, v.data.find('\0'));
            // A malformed value would make the removal delete some other key.
            if (is_driver_key_name(driver))
              d.driver = driver;
          }
        }
        sim::device_add(d);
      }
  }
}

void apply_machine(const machine_description &m) {
  if (m.whole) {
    sim::reset();
    sim::set_version(m.win98 ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT, m.major, m.minor,
                     m.build);
    // On NT, CurrentControlSet is the system's link to the control set SYSTEM\Select names.
    if (!m.win98)
      sim::reg_add_link("SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet001");
  } else if (m.win98) {
    sim::machine_win98();
    sim::set_version(VER_PLATFORM_WIN32_WINDOWS, m.major, m.minor, m.build);
  } else {
    sim::machine_win2000();
    sim::set_version(VER_PLATFORM_WIN32_NT, m.major, m.minor, m.build);
  }
  if (!m.windows_directory.empty())
    sim::set_windows_directory(m.windows_directory);
  if (!m.system_directory.empty())
    sim::set_system_directory(m.system_directory);
  for (const auto &link : m.links)
    sim::reg_add_link(link.first, link.second);
  if (m.registry_keys)
    sim::reg_import(*m.registry_keys);
  apply_reg(m.registry);
  for (const machine_file_entry &f : m.files) {
    if (f.folder) {
      sim::folder_add(f.path);
      continue;
    }
    sim::file_add(f.path, f.attributes, f.contents);
    if (f.delete_error)
      sim::file_deny_delete(f.path, f.delete_error);
    if (f.attributes_error)
      sim::file_deny_attributes(f.path, f.attributes_error);
    if (f.loaded)
      sim::file_loaded(f.path);
  }
  for (const machine_package &p : m.packages) {
    // The original INF is the published copy's text, where the machine has the copy.
    std::string copy = windows_directory(m) + "\\inf\\" + p.oem_inf, contents;
    for (const machine_file_entry &f : m.files)
      if (!f.folder && ascii_iequal(f.path, copy))
        contents = f.contents;
    sim::driver_package_add(p.oem_inf, p.folder, package_inf_name(p.folder), contents);
  }
  for (const sim::device &d : m.devices)
    sim::device_add(d);
  if (m.devices.empty() && !m.win98)
    add_enum_devices();
  for (const auto &denied : m.denied_keys)
    sim::reg_deny(denied.first, denied.second);
  for (const sim::fault &f : m.faults)
    sim::fail(f);
}

reg_format export_format(const machine_description &m) {
  if (m.has_reg_format)
    return m.registry_format;
  return m.win98 ? reg_format_regedit4 : reg_format_regedit5;
}

// ---- Checks on the machine as set up ----------------------------------------------------

static bool tail_matches(const std::string &whole, const std::string &tail) {
  if (ascii_iequal(whole, tail))
    return true;
  return whole.size() > tail.size() && whole[whole.size() - tail.size() - 1] == '\\' &&
         ascii_iequal(whole.substr(whole.size() - tail.size()), tail);
}

// Whether some key's path ends with `tail`. Aliases are walked as well: a call reaches a key
// by the route it opened it by, CurrentControlSet included.
static bool some_key_ends_with(const std::string &path, const std::string &tail, int depth) {
  if (!path.empty() && tail_matches(path, tail))
    return true;
  if (depth > 600) // far beyond Windows' 512 levels; an alias loop ends here
    return false;
  for (const std::string &name : sim::reg_subkeys(path))
    if (some_key_ends_with(path.empty() ? name : path + "\\" + name, tail, depth + 1))
      return true;
  return false;
}

static bool key_named(const std::string &subject) {
  static const char root[] = "HKEY_LOCAL_MACHINE\\";
  if (ascii_iequal(subject.substr(0, sizeof root - 1), root))
    return sim::reg_key_exists(subject.substr(sizeof root - 1));
  return sim::reg_key_exists(subject) || some_key_ends_with("", subject, 0);
}

static bool file_named(const std::string &subject) {
  for (const std::string &f : sim::file_list())
    if (tail_matches(f, subject))
      return true;
  return false;
}

static bool device_named(const std::string &subject) {
  for (const std::string &d : sim::device_list())
    if (tail_matches(d, subject))
      return true;
  return false;
}

static bool names_something(subject_kind kind, const std::string &subject) {
  switch (kind) {
  case subject_open_key:
    return key_named(subject);
  case subject_open_value: {
    size_t slash = subject.rfind('\\');
    return slash == std::string::npos || key_named(subject.substr(0, slash));
  }
  case subject_existing_file:
  case subject_open_inf:
    return file_named(subject);
  case subject_device:
    return device_named(subject);
  default:
    return true;
  }
}

bool check_machine(const machine_description &m, load_error &error) {
  for (size_t i = 0; i < m.faults.size(); ++i) {
    const sim::fault &f = m.faults[i];
    const subject_kind *kind = function_kind(f.function);
    if (f.subject.empty() || !kind || names_something(*kind, f.subject))
      continue;
    error.file = m.source;
    error.line = i < m.fault_lines.size() ? m.fault_lines[i] : 0;
    error.what = "'" + display_utf8(f.subject) + "' names nothing on this machine that " +
                 f.function + " could be called on, so the rule would never apply";
    return false;
  }
  return true;
}

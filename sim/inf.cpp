// INF files: parsing of the INF syntax and the setupapi INF functions.
#include "sim/state.h"

#include <cstring>

namespace sim {
namespace detail {

static const DWORD kErrorClassMismatch = 0xE0000203L;
// The parse errors of setupapi.h: APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0 and 1.
static const DWORD kErrorExpectedSectionName = 0xE0000000L;
static const DWORD kErrorBadSectionNameLine = 0xE0000001L;

// Where the character holding s[i] starts is i itself (s[i] is no trail byte).
static bool starts_character(const std::string &s, size_t i) {
  size_t at = 0;
  while (at < i)
    at += char_length(s, at);
  return at == i;
}

// One field of a line: quotes removed ("" inside quotes is a quote), blanks outside quotes
// trimmed at both ends.
static std::string parse_field(const std::string &raw) {
  std::string text;
  std::vector<bool> quoted;
  bool in_quote = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '"') {
      if (in_quote && i + 1 < raw.size() && raw[i + 1] == '"') {
        text += '"';
        quoted.push_back(true);
        ++i;
      } else {
        in_quote = !in_quote;
      }
      continue;
    }
    text += c;
    quoted.push_back(in_quote);
  }
  size_t b = 0, e = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (b < e && !quoted[b] && blank(text[b]))
    ++b;
  while (e > b && !quoted[e - 1] && blank(text[e - 1]))
    --e;
  return text.substr(b, e - b);
}

// Splits at commas outside quotes.
static std::vector<std::string> split_fields(const std::string &s) {
  std::vector<std::string> out;
  std::string cur;
  bool in_quote = false;
  for (char c : s) {
    if (c == '"')
      in_quote = !in_quote;
    if (c == ',' && !in_quote) {
      out.push_back(parse_field(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(parse_field(cur));
  return out;
}

static std::string trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos)
    return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Removes a ';' comment (outside quotes) and trailing blanks.
static std::string strip_comment(const std::string &line) {
  bool in_quote = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"')
      in_quote = !in_quote;
    else if (line[i] == ';' && !in_quote)
      return trim(line.substr(0, i));
  }
  return trim(line);
}

// Reads the sections and lines of an INF text. Microsoft's list of Setup API errors names
// what the parser refuses, and the simulation follows it for the two cases a hand-written
// INF meets: a line that is no comment before the first section (ERROR_EXPECTED_SECTION_NAME,
// "A section name was expected and not found") and a section name not ended by ']'
// (ERROR_BAD_SECTION_NAME_LINE). `error_line` gets the 1-based line, as SetupOpenInfFile's
// ErrorLine does. A ']' or a continuing '\\' must be characters of their own: the trail byte
// of a double-byte character may have either value.
static DWORD parse_inf(const std::string &text, std::vector<inf_section> &sections,
                       UINT &error_line) {
  std::vector<std::string> physical;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      physical.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  physical.push_back(cur);

  std::string logical;
  size_t first = 0; // the physical line where the logical line began
  for (size_t i = 0; i < physical.size(); ++i) {
    std::string part = strip_comment(physical[i]);
    if (logical.empty())
      first = i;
    bool continued =
        !part.empty() && part.back() == '\\' && starts_character(part, part.size() - 1);
    if (continued)
      part.pop_back();
    if (continued && i + 1 < physical.size()) {
      logical += part; // a trailing backslash continues the line
      continue;
    }
    logical += part;
    std::string line = trim(logical);
    logical.clear();
    if (line.empty())
      continue;
    if (line[0] == '[') {
      size_t close = std::string::npos;
      for (size_t k = 1; k < line.size() && close == std::string::npos; k += char_length(line, k))
        if (line[k] == ']')
          close = k;
      if (close == std::string::npos) {
        error_line = static_cast<UINT>(first + 1);
        return kErrorBadSectionNameLine;
      }
      inf_section s;
      s.name = trim(line.substr(1, close - 1));
      sections.push_back(s);
      continue;
    }
    if (sections.empty()) {
      error_line = static_cast<UINT>(first + 1);
      return kErrorExpectedSectionName;
    }
    inf_line l;
    bool in_quote = false;
    size_t eq = std::string::npos;
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '"')
        in_quote = !in_quote;
      else if (line[k] == '=' && !in_quote) {
        eq = k;
        break;
      }
    }
    if (eq != std::string::npos) {
      l.has_key = true;
      l.key = parse_field(line.substr(0, eq));
      l.fields = split_fields(line.substr(eq + 1));
    } else {
      l.fields = split_fields(line);
    }
    sections.back().lines.push_back(l);
  }
  return 0;
}

static std::string substitute(const inf_file &f, const std::string &s);

// Keys are compared after %strkey% substitution (except in [Strings] itself), as the
// setupapi parser substitutes every token of a line.
static const inf_line *find_line(const inf_file &f, const std::string &section,
                                 const std::string &key, bool &section_found) {
  section_found = false;
  bool strings = ieq(section, "Strings");
  for (auto &s : f.sections) {
    if (!ieq(s.name, section))
      continue;
    section_found = true;
    for (auto &l : s.lines)
      if (l.has_key && ieq(strings ? l.key : substitute(f, l.key), key))
        return &l;
  }
  return nullptr;
}

// Replaces %key% by the [Strings] entry and %% by %; unknown keys stay as written.
static std::string substitute(const inf_file &f, const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    size_t close = s.find('%', i + 1);
    if (close == std::string::npos) {
      out += s.substr(i);
      break;
    }
    std::string key = s.substr(i + 1, close - i - 1);
    bool found_section = false;
    const inf_line *l = key.empty() ? nullptr : find_line(f, "Strings", key, found_section);
    if (key.empty())
      out += '%';
    else if (l && !l->fields.empty())
      out += l->fields[0];
    else
      out += s.substr(i, close - i + 1);
    i = close;
  }
  return out;
}

static std::string line_text(const inf_file &f, const inf_line &l) {
  std::string text;
  for (size_t i = 0; i < l.fields.size(); ++i) {
    if (i)
      text += ',';
    text += substitute(f, l.fields[i]);
  }
  return text;
}

static inf_file *inf_of(HINF h) {
  auto it = m().infs.find(reinterpret_cast<uintptr_t>(h));
  return it == m().infs.end() ? nullptr : &it->second;
}

static BOOL fail_with(DWORD error) {
  m().last_error = error;
  return FALSE;
}

// The form Windows gives its OEM INF copies: "oem", a number, ".inf", in any letter case.
static bool oem_inf_form(const std::string &name) {
  std::string n = upper(name);
  if (n.size() < 8 || n.compare(0, 3, "OEM") != 0 || n.compare(n.size() - 4, 4, ".INF") != 0)
    return false;
  for (size_t i = 3; i + 4 < n.size(); ++i)
    if (n[i] < '0' || n[i] > '9')
      return false;
  return true;
}

// Whether a device instance that is still there, attached or not, was installed from the INF:
// its driver key below the class branch names it in "InfPath".
static bool inf_in_use(const std::string &name) {
  for (const device_entry &d : m().devices) {
    if (d.removed || d.d.driver.empty())
      continue;
    std::string inf_path =
        sim::reg_value("SYSTEM\\CurrentControlSet\\Control\\Class\\" + d.d.driver, "InfPath");
    if (ieq(inf_path.substr(0, inf_path.find('\0')), name))
      return true;
  }
  return false;
}

// Deletes a file or a folder with everything below it, as the system does on its own behalf:
// `kind` is recorded once, for the path as it was created.
static void remove_recorded(const std::string &normalized, sim::change::kind_t kind) {
  auto &files = m().files;
  std::string key = upper(normalized);
  auto it = files.find(key);
  if (it == files.end())
    return;
  std::string shown = it->second.path;
  for (it = files.lower_bound(key);
       it != files.end() && it->first.compare(0, key.size(), key) == 0;)
    if (it->first.size() == key.size() || it->first[key.size()] == '\\')
      it = files.erase(it);
    else
      ++it;
  record_change(kind, shown);
}

// Whether a name has no path separator ('\\', '/' or a drive's ':') of its own.
static bool bare_name(const std::string &name) {
  for (size_t i = 0; i < name.size(); i += char_length(name, i))
    if (char_length(name, i) == 1 && (name[i] == '\\' || name[i] == '/' || name[i] == ':'))
      return false;
  return true;
}

} // namespace detail

using namespace detail;

void inf_add(const std::string &name, const std::string &text) {
  file_add(m().windir + "\\inf\\" + name, FILE_ATTRIBUTE_ARCHIVE, text);
}

void driver_package_add(const std::string &oem_inf, const std::string &folder,
                        const std::string &inf_name, const std::string &contents) {
  std::string path = m().sysdir + "\\DriverStore\\FileRepository\\" + folder;
  std::string normalized;
  if (!normalize_path(path, normalized))
    return;
  file_add(normalized + "\\" + inf_name, FILE_ATTRIBUTE_ARCHIVE, contents);
  m().packages[upper(oem_inf)] = normalized;
}

std::string driver_package(const std::string &oem_inf) {
  auto it = m().packages.find(upper(oem_inf));
  return it != m().packages.end() && folder_exists(it->second) ? it->second : std::string();
}

void uninstall_oem_inf_as_wine(bool on) {
  m().wine_oem_uninstall = on;
}

} // namespace sim

using namespace sim::detail;

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
  DWORD err = enter("SetupOpenInfFileA", str(FileName));
  auto fail_open = [&](DWORD e) -> HINF {
    m().last_error = e;
    if (ErrorLine)
      *ErrorLine = 0;
    return INVALID_HANDLE_VALUE;
  };
  if (err)
    return fail_open(err);
  if (!FileName || !*FileName)
    return fail_open(ERROR_INVALID_PARAMETER);
  std::string name = FileName;
  std::string path = name;
  const file_entry *f = nullptr;
  if (bare_name(name)) {
    // As Microsoft's SetupOpenInfFile page says: a name without path separators is looked
    // for in %windir%\inf first, then in the system directory.
    path = m().windir + "\\inf\\" + name;
    f = find_file(path);
    if (!f || f->folder) {
      path = m().sysdir + "\\" + name;
      f = find_file(path);
    }
  } else {
    f = find_file(path);
  }
  if (!f || f->folder) {
    std::string n;
    bool folder_ok = normalize_path(path, n) && sim::folder_exists(parent_path(n));
    return fail_open(folder_ok ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  }
  inf_file inf;
  inf.name = name;
  UINT error_line = 0;
  if (DWORD parse_error = parse_inf(f->contents, inf.sections, error_line)) {
    m().last_error = parse_error;
    if (ErrorLine)
      *ErrorLine = error_line;
    return INVALID_HANDLE_VALUE;
  }
  bool section_found = false;
  const inf_line *sig = find_line(inf, "Version", "Signature", section_found);
  std::string signature = sig ? line_text(inf, *sig) : std::string();
  bool win4 = ieq(signature, "$Windows NT$") || ieq(signature, "$Chicago$") ||
              ieq(signature, "$Windows 95$");
  if ((InfStyle & INF_STYLE_WIN4) && !win4 && !(InfStyle & INF_STYLE_OLDNT))
    return fail_open(ERROR_WRONG_INF_STYLE);
  if (InfClass && *InfClass) {
    const inf_line *cls = find_line(inf, "Version", "Class", section_found);
    if (!cls || !ieq(line_text(inf, *cls), InfClass))
      return fail_open(kErrorClassMismatch);
  }
  uintptr_t h = new_handle();
  m().infs[h] = inf;
  m().last_error = 0;
  return reinterpret_cast<HINF>(h);
}

// SetupGetLineTextA and the last error. Microsoft's reference page only says that a
// nonzero result means success and that GetLastError gives the reason of a failure
// ("If the function fails, the return value is zero. To get extended error information,
// call GetLastError"); it makes no promise about the last error after a success. The
// setupapi of Windows 2000 and later sets it to NO_ERROR on every successful return, and
// the size query with no buffer is such a success; the uninstaller's OEM INF step judges
// the call by the last error alone, so the simulation sets 0 on success, including the
// size query.
BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key,
                              PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize) {
  inf_file *pre = inf_of(Context ? Context->Inf : InfHandle);
  DWORD err = enter("SetupGetLineTextA", pre ? pre->name : std::string());
  if (err)
    return fail_with(err);
  const inf_file *inf = nullptr;
  const inf_line *line = nullptr;
  if (Context) {
    inf = inf_of(Context->CurrentInf ? Context->CurrentInf : Context->Inf);
    if (!inf)
      return fail_with(ERROR_INVALID_HANDLE);
    if (Context->Section >= inf->sections.size() ||
        Context->Line >= inf->sections[Context->Section].lines.size())
      return fail_with(ERROR_LINE_NOT_FOUND);
    line = &inf->sections[Context->Section].lines[Context->Line];
  } else {
    inf = inf_of(InfHandle);
    if (!inf)
      return fail_with(ERROR_INVALID_HANDLE);
    if (!Section || !Key)
      return fail_with(ERROR_INVALID_PARAMETER);
    bool section_found = false;
    line = find_line(*inf, Section, Key, section_found);
    if (!section_found)
      return fail_with(ERROR_SECTION_NOT_FOUND);
    if (!line)
      return fail_with(ERROR_LINE_NOT_FOUND);
  }
  std::string text = line_text(*inf, *line);
  DWORD required = static_cast<DWORD>(text.size() + 1);
  if (RequiredSize)
    *RequiredSize = required;
  if (ReturnBuffer) {
    if (ReturnBufferSize < required)
      return fail_with(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(ReturnBuffer, text.c_str(), required);
  }
  m().last_error = 0;
  return TRUE;
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
  inf_file *pre = inf_of(InfHandle);
  DWORD err = enter("SetupCloseInfFile", pre ? pre->name : std::string());
  if (err) {
    m().last_error = err;
    return;
  }
  if (m().infs.erase(reinterpret_cast<uintptr_t>(InfHandle)))
    m().last_error = 0; // as every successful setupapi call
}

// SetupUninstallOEMInfA. What the simulation follows:
// - From Microsoft's reference page: the name is "without path" of an .inf file in the
//   Windows INF folder; the function removes that INF and "any associated .pnf file"; it
//   "first checks whether there are any devices installed using the .inf file. A device does
//   not need to be present", and without SUOI_FORCEDELETE it then leaves the INF. Reserved is
//   to be null. The page names no error codes; the ones given here are setupapi's own.
// - A name with a path, no name or a Reserved pointer: ERROR_INVALID_PARAMETER; flags other
//   than SUOI_FORCEDELETE: ERROR_INVALID_FLAGS.
// - A copy that is not in the INF folder: ERROR_FILE_NOT_FOUND, as setupapi's log shows for a
//   missing oem<N>.inf. A name that is no OEM INF copy Windows installed:
//   ERROR_NOT_AN_INSTALLED_OEM_INF; Windows names its copies oem<number>.inf, and the
//   simulation takes that form as the test.
// - A device instance, attached or not, whose driver key (below
//   SYSTEM\CurrentControlSet\Control\Class) names the INF in "InfPath", and no
//   SUOI_FORCEDELETE: ERROR_INF_IN_USE_BY_DEVICES, nothing removed.
// - Otherwise the INF and its PNF go, and on Windows Vista (6.0) and later also the driver
//   package published as that INF (Windows XP has no driver store). A file whose deletion is
//   refused (file_deny_delete) fails the call with that error before anything is removed;
//   attributes do not stop it.
// - Success sets the last error to 0, as every successful setupapi call here does.
// In Wine's mode it succeeds without looking at anything and deletes the INF alone when forced.
BOOL WINAPI SetupUninstallOEMInfA(PCSTR InfFileName, DWORD Flags, PVOID Reserved) {
  DWORD err = enter("SetupUninstallOEMInfA", str(InfFileName));
  if (err)
    return fail_with(err);
  machine &mm = m();
  std::string name = str(InfFileName);
  std::string inf, pnf;
  bool paths = normalize_path(mm.windir + "\\inf\\" + name, inf);
  if (mm.wine_oem_uninstall) {
    if ((Flags & SUOI_FORCEDELETE) && paths && sim::file_exists(inf))
      remove_recorded(inf, sim::change::file_deleted);
    mm.last_error = 0;
    return TRUE;
  }
  if (name.empty() || !bare_name(name) || Reserved || !paths)
    return fail_with(ERROR_INVALID_PARAMETER);
  if (Flags & ~static_cast<DWORD>(SUOI_FORCEDELETE))
    return fail_with(ERROR_INVALID_FLAGS);
  const file_entry *inf_file = find_file(inf);
  if (!inf_file || inf_file->folder)
    return fail_with(ERROR_FILE_NOT_FOUND);
  if (!oem_inf_form(name))
    return fail_with(ERROR_NOT_AN_INSTALLED_OEM_INF);
  if (!(Flags & SUOI_FORCEDELETE) && inf_in_use(name))
    return fail_with(ERROR_INF_IN_USE_BY_DEVICES);
  normalize_path(inf.substr(0, inf.size() - 3) + "pnf", pnf);
  const file_entry *pnf_file = find_file(pnf);
  for (const file_entry *f : {inf_file, pnf_file})
    if (f && f->deny_delete)
      return fail_with(f->deny_delete);
  remove_recorded(inf, sim::change::file_deleted);
  if (pnf_file && !pnf_file->folder)
    remove_recorded(pnf, sim::change::file_deleted);
  auto package = mm.packages.find(upper(name));
  if (package != mm.packages.end()) {
    if (mm.platform == VER_PLATFORM_WIN32_NT && mm.major >= 6)
      remove_recorded(package->second, sim::change::package_removed);
    mm.packages.erase(package);
  }
  mm.last_error = 0;
  return TRUE;
}

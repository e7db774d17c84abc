// Reading a snapshot folder written by tools/snapshot.bat into a machine description.
#include "tools/snapshot.h"

#include "tools/encoding.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// One snapshot folder being read: its entries by upper-cased name.
struct snapshot_reader {
  std::string folder;
  std::map<std::string, fs::path> entries;
  machine_description *machine;
  load_error *error;
  bool win98;
  std::string read_through; // the "wow64" line's path: how the system folder was read
  // The machine's files by upper-cased path: index in machine->files.
  std::map<std::string, size_t> by_path;
};

// A file of a folder as a listing shows it.
struct listed_file {
  std::string name;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
};

// What a listing file held; `present` is false when the snapshot has no such file.
struct listing {
  bool present = false;
  std::vector<listed_file> files;
  std::string folder; // attrib: the folder as its first line spells it
};

} // namespace

static bool fail_at(snapshot_reader &r, const std::string &file, int line,
                    const std::string &what) {
  *r.error = load_error{file, line, what, ""};
  return false;
}

static void warn(snapshot_reader &r, const std::string &file, int line, const std::string &what,
                 const std::string &kind) {
  r.machine->warnings.push_back(load_error{file, line, what, kind});
}

static void not_known(snapshot_reader &r, machine_unknown::kind_t kind, bool key,
                      const std::string &path, const std::string &why) {
  machine_unknown u;
  u.kind = kind;
  u.key = key;
  u.path = path;
  u.why = why;
  r.machine->unknowns.push_back(u);
}

// The lines of a text file without their line ends and trailing blanks.
static std::vector<std::string> text_lines(const std::string &bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The snapshot file of that name (any letter case); empty when the folder has none.
static fs::path entry(const snapshot_reader &r, const std::string &name) {
  auto it = r.entries.find(ascii_upper(name));
  return it == r.entries.end() ? fs::path() : it->second;
}

static std::string shown(const snapshot_reader &r, const std::string &name) {
  fs::path p = entry(r, name);
  return p.empty() ? r.folder + "/" + name : p.string();
}

static bool read_entry(snapshot_reader &r, const std::string &name, std::string &bytes) {
  fs::path p = entry(r, name);
  return !p.empty() && read_bytes(p.string(), bytes);
}

// Where a full path ("C:\\...") begins in a line, after a blank or at its start. No trail
// byte can pass for the drive: ':' is never one, and the byte before the letter would be a
// lead byte, not a blank.
static size_t drive_path_at(const std::string &line) {
  for (size_t i = 0; i + 2 < line.size(); ++i)
    if (std::isalpha(static_cast<unsigned char>(line[i])) && line[i + 1] == ':' &&
        line[i + 2] == '\\' && (i == 0 || line[i - 1] == ' '))
      return i;
  return std::string::npos;
}

static std::string name_of(const std::string &path) {
  size_t slash = rfind_char_of(path, "\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- VER.TXT and WHERE.TXT --------------------------------------------------------------

// The first "N.N[.N[.N]]" of the text: "Windows 98 [Version 4.10.2222]", "Windows 95.
// [Version 4.00.950]", "Microsoft Windows [Version 10.0.19045.3803]" and Wine's "Microsoft
// Windows 10.0.19043".
static bool version_numbers(const std::string &line, std::vector<DWORD> &numbers) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i])) ||
        (i > 0 && std::isdigit(static_cast<unsigned char>(line[i - 1]))))
      continue;
    numbers.clear();
    size_t at = i;
    for (;;) {
      size_t end = at;
      while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])))
        ++end;
      if (end == at || end - at > 9)
        break;
      numbers.push_back(static_cast<DWORD>(std::stoul(line.substr(at, end - at))));
      if (end >= line.size() || line[end] != '.')
        break;
      at = end + 1;
    }
    if (numbers.size() >= 2)
      return true;
  }
  return false;
}

static bool read_where(snapshot_reader &r) {
  std::string bytes;
  if (!read_entry(r, "WHERE.TXT", bytes))
    return fail_at(r, shown(r, "WHERE.TXT"), 0, "cannot be read: is this a snapshot folder?");
  std::vector<std::string> lines = text_lines(bytes);
  bool have_family = false;
  machine_description &m = *r.machine;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    size_t blank = line.find(' ');
    std::string word = line.substr(0, blank);
    std::string rest =
        blank == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', blank));
    int number = static_cast<int>(i) + 1;
    if (line.empty())
      continue;
    bool full_path = drive_path_at(rest) == 0;
    if (word == "windows" && full_path) {
      m.windows_directory = rest;
    } else if (word == "system" && full_path) {
      m.system_directory = rest;
    } else if (word == "wow64" && full_path) {
      r.read_through = rest;
    } else if (word == "family" && (ascii_iequal(rest, "nt") || ascii_iequal(rest, "win98"))) {
      r.win98 = ascii_iequal(rest, "win98");
      have_family = true;
    } else {
      return fail_at(r, shown(r, "WHERE.TXT"), number,
                     "expected 'windows PATH', 'system PATH', 'wow64 PATH' or 'family nt|win98'");
    }
  }
  if (m.windows_directory.empty() || m.system_directory.empty() || !have_family)
    return fail_at(r, shown(r, "WHERE.TXT"), 0,
                   "needs a windows, a system and a family line; take the snapshot again");
  return true;
}

// The version as `ver` printed it. The Windows 98 family (95, 98, Me) keeps its version in
// the build number's high word as well; Windows 95 is 4.00.950 and is rehearsed as such (the
// uninstaller refuses it). A Wine prefix that plays Windows 98 to one program has a cmd that
// reports an NT version: such a snapshot is rehearsed as Windows 98 SE, Wine's win98 mode.
static bool read_version(snapshot_reader &r) {
  std::string bytes;
  machine_description &m = *r.machine;
  if (!read_entry(r, "VER.TXT", bytes))
    return fail_at(r, shown(r, "VER.TXT"), 0, "cannot be read");
  std::vector<DWORD> numbers;
  std::string text;
  for (const std::string &line : text_lines(bytes))
    if (!line.empty() && version_numbers(line, numbers)) {
      text = line;
      break;
    }
  if (text.empty())
    return fail_at(r, shown(r, "VER.TXT"), 0, "holds no Windows version such as 5.00.2195");
  m.win98 = r.win98;
  m.major = numbers[0];
  m.minor = numbers[1];
  m.build = numbers.size() > 2 ? numbers[2] : 0;
  if (r.win98 && m.major == 4) {
    m.build = (m.major << 24) | (m.minor << 16) | (m.build & 0xFFFF);
  } else if (r.win98) {
    warn(r, shown(r, "VER.TXT"), 0,
         "'" + display_utf8(text) +
             "' is no Windows 98 version; rehearsing as Windows 98 SE (4.10.2222), the "
             "version Wine's win98 mode reports",
         "");
    m.major = 4;
    m.minor = 10;
    m.build = 0x040A08AE;
  }
  m.source = "snapshot " + r.folder + " (" + text + ")";
  if (!r.read_through.empty())
    m.source += ", taken from a 32-bit prompt: the system folder read through " + r.read_through;
  return true;
}

// ---- Registry ---------------------------------------------------------------------------

static bool read_registry(snapshot_reader &r, const std::string &name, const std::string &branch) {
  fs::path p = entry(r, name);
  if (p.empty()) {
    if (branch.empty())
      return fail_at(r, shown(r, name), 0, "cannot be read: the registry export is missing");
    std::string why = name + " is missing from the snapshot: the keys of HKEY_LOCAL_MACHINE\\" +
                      branch + " are not known (the rehearsal takes the branch as empty)";
    warn(r, shown(r, name), 0, why, "");
    not_known(r, machine_unknown::contents, true, branch, why);
    return true;
  }
  return add_reg_export(*r.machine, p.string(), *r.error);
}

// ---- Listings ---------------------------------------------------------------------------

// The attribute letters in front of an attrib line's path. Windows 2000 prints "A  SHR",
// later versions add columns for further letters (I, O, P, U, ...), which do not matter
// here. False when the text is no attribute column (a message such as "File not found").
static bool attribute_letters(const std::string &text, DWORD &attributes) {
  static const struct {
    char letter;
    DWORD attribute;
  } letters[] = {{'R', FILE_ATTRIBUTE_READONLY},
                 {'H', FILE_ATTRIBUTE_HIDDEN},
                 {'S', FILE_ATTRIBUTE_SYSTEM},
                 {'A', FILE_ATTRIBUTE_ARCHIVE}};
  attributes = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t')
      continue;
    if (!std::isupper(static_cast<unsigned char>(c)))
      return false;
    for (const auto &l : letters)
      if (c == l.letter)
        attributes |= l.attribute;
  }
  if (attributes == 0)
    attributes = FILE_ATTRIBUTE_NORMAL;
  return true;
}

// An attrib listing: the files it names with their attributes. A line of another form is a
// message ("File not found - C:\WINDOWS\inf\OTHER\*.*", in the machine's language); a
// listing of nothing but messages is that of an empty or missing folder, a message among
// files is refused. Only the name is taken from the path: from a 32-bit prompt on 64-bit
// Windows the folder is the one it was read through (C:\Windows\Sysnative\drivers).
static bool read_attrib(snapshot_reader &r, const std::string &name, listing &out) {
  std::string bytes;
  out.present = read_entry(r, name, bytes);
  std::vector<std::string> lines = text_lines(bytes);
  int first_message = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.find_first_not_of(" \t") == std::string::npos)
      continue;
    size_t at = drive_path_at(line);
    listed_file f;
    if (at != std::string::npos && find_char_of(line.substr(at), "*") == std::string::npos &&
        attribute_letters(line.substr(0, at), f.attributes)) {
      f.name = name_of(line.substr(at));
      if (out.files.empty())
        out.folder = line.substr(at, line.size() - at - f.name.size() - 1);
      out.files.push_back(f);
    } else if (first_message == 0) {
      first_message = static_cast<int>(i) + 1;
    }
  }
  if (first_message && !out.files.empty())
    return fail_at(r, shown(r, name), first_message,
                   "cannot read this attrib line (expected attribute letters and a full path "
                   "such as 'A    C:\\WINDOWS\\inf\\mdmgen.inf')");
  return true;
}

// A dir /b listing: one name a line, walked by characters (the 0x5C of ソ and the 0x7C of ポ
// are trail bytes, not characters a name cannot hold).
static bool read_dir(snapshot_reader &r, const std::string &name, listing &out) {
  std::string bytes;
  out.present = read_entry(r, name, bytes);
  std::vector<std::string> lines = text_lines(bytes);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.empty() || line == "." || line == "..")
      continue;
    if (find_char_of(line, "\\/:*\"<>|") != std::string::npos)
      return fail_at(r, shown(r, name), static_cast<int>(i) + 1,
                     "cannot read this dir /b line: a file name cannot hold \\ / : * \" < > |");
    out.files.push_back(listed_file{line, FILE_ATTRIBUTE_ARCHIVE});
  }
  return true;
}

static void add_file(snapshot_reader &r, const machine_file_entry &f) {
  r.by_path[ascii_upper(f.path)] = r.machine->files.size();
  r.machine->files.push_back(f);
}

// The files of one folder: the names dir lists (long names on every version), with the
// attributes attrib gives them. When attrib found nothing, the folder is empty or missing
// (dir and attrib print the same "not found" message for both): it is taken as empty, and
// whether it exists is not known unless every such Windows has it (`always`). A listing that
// is missing makes what is in the folder, or the attributes of its files, not known.
static bool read_folder(snapshot_reader &r, const std::string &listing_name, std::string folder,
                        bool always) {
  listing attributes, names;
  std::string att = listing_name + ".ATT", dir = listing_name + ".DIR";
  if (!read_attrib(r, att, attributes) || !read_dir(r, dir, names))
    return false;
  // The folder's letter case as Windows wrote it (C:\WINDOWS\INF on Windows 98).
  if (ascii_iequal(attributes.folder, folder))
    folder = attributes.folder;
  if (!attributes.present && !names.present) {
    std::string why = "neither " + dir + " nor " + att +
                      " is in the snapshot: the files of this folder are not known (the "
                      "rehearsal takes it as empty)";
    warn(r, shown(r, dir), 0, why, "listings missing");
    not_known(r, machine_unknown::contents, false, folder, why);
    return true;
  }
  if (!attributes.present) {
    std::string why = att + " is missing from the snapshot: the attributes of the files in this "
                            "folder are not known (the rehearsal takes each as archive only)";
    warn(r, shown(r, att), 0, why, "listings missing");
    not_known(r, machine_unknown::contents, false, folder, why);
    attributes.files = names.files;
  } else if (!names.present && !attributes.files.empty()) {
    warn(r, shown(r, dir), 0,
         dir + " is missing from the snapshot: the names are taken from " + att +
             (r.win98 ? ", which shows short names on Windows 98" : ""),
         "listings missing");
    if (r.win98)
      not_known(r, machine_unknown::contents, false, folder,
                dir + " is missing from the snapshot: the long names of the files in this folder "
                      "are not known");
    names.files = attributes.files;
  }
  add_file(r, machine_file_entry{folder, true, FILE_ATTRIBUTE_DIRECTORY, "", 0, 0});
  if (attributes.files.empty()) {
    if (!always)
      not_known(r, machine_unknown::contents, false, folder,
                att + " shows no files: whether the folder exists is not known (the rehearsal "
                      "takes it as an empty folder)");
    return true;
  }
  std::map<std::string, DWORD> attributes_by_name;
  for (const listed_file &f : attributes.files)
    attributes_by_name[ascii_upper(f.name)] = f.attributes;
  // A name that attrib shows and dir does not (a short name on Windows 98) is a file too. The
  // names are looked up upper-cased: system32 holds thousands of files.
  std::set<std::string> listed;
  for (const listed_file &n : names.files)
    listed.insert(ascii_upper(n.name));
  for (const listed_file &f : attributes.files)
    if (listed.insert(ascii_upper(f.name)).second)
      names.files.push_back(f);
  for (const listed_file &f : names.files) {
    std::string path = folder + "\\" + f.name;
    if (r.by_path.count(ascii_upper(path)))
      continue;
    auto it = attributes_by_name.find(ascii_upper(f.name));
    DWORD file_attributes = it == attributes_by_name.end() ? FILE_ATTRIBUTE_ARCHIVE : it->second;
    if (find_char_of(f.name, "?") != std::string::npos)
      warn(r, shown(r, dir), 0,
           "'" + display_utf8(f.name) +
               "': a '?' is a character the console could not show; the name is kept as written "
               "and matches no real name",
           "names with characters the console could not show");
    add_file(r, machine_file_entry{path, false, file_attributes, "", 0, 0});
  }
  return true;
}

// Whether snapshot.bat copies a file of that name: OEMINF holds the inf folder's oem*.inf,
// OTHERINF all of inf\OTHER's *.inf.
static bool copied(const std::string &name, bool oem_only) {
  std::string upper = ascii_upper(name);
  bool inf = upper.size() >= 4 && upper.compare(upper.size() - 4, 4, ".INF") == 0;
  return inf && (!oem_only || upper.compare(0, 3, "OEM") == 0);
}

// The copies of the INF files: their text, as the INF functions read it. A Unicode INF
// (UTF-16LE with a byte-order mark) is read as the ANSI functions see it, a character the
// code page lacks as '?'. A copy is matched to a listed file by its name (as the snapshot
// wrote it, or in UTF-8 when the folder came through a file system that converted it); a copy
// that no listing shows is left out, and a listed file without its copy is not known.
static void read_copies(snapshot_reader &r, const std::string &copies, const std::string &listing,
                        const std::string &folder, bool oem_only) {
  machine_description &m = *r.machine;
  std::string prefix = ascii_upper(folder + "\\");
  std::map<std::string, bool> wanted; // upper-cased path of each listed copy -> found
  for (const machine_file_entry &f : m.files)
    if (!f.folder && ascii_upper(f.path).compare(0, prefix.size(), prefix) == 0 &&
        find_char_of(f.path.substr(prefix.size()), "\\") == std::string::npos &&
        copied(name_of(f.path), oem_only))
      wanted[ascii_upper(f.path)] = false;
  fs::path directory = entry(r, copies);
  std::error_code ec;
  if (!directory.empty() && fs::is_directory(directory, ec))
    for (const fs::directory_entry &e : fs::directory_iterator(directory, ec)) {
      std::string text, name = e.path().filename().string(), converted;
      if (!e.is_regular_file(ec) || !read_bytes(e.path().string(), text))
        continue;
      auto it = r.by_path.find(ascii_upper(folder + "\\" + name));
      if (it == r.by_path.end() && utf8_to_cp932(name, converted))
        it = r.by_path.find(ascii_upper(folder + "\\" + converted));
      if (it == r.by_path.end()) {
        warn(r, e.path().string(), 0,
             "a copy that no listing of " + display_utf8(folder) +
                 " shows (left from an earlier snapshot?); ignored",
             "copies that no listing shows, ignored");
        continue;
      }
      if (text.compare(0, 2, "\xFF\xFE") == 0) {
        std::string ansi;
        if (size_t replaced = utf16le_to_cp932_default(text.substr(2), ansi))
          warn(r, e.path().string(), 0,
               std::to_string(replaced) +
                   " characters outside code page 932 read as '?', as Windows' ANSI functions "
                   "see them",
               "characters outside code page 932 read as '?'");
        text = ansi;
      }
      m.files[it->second].contents = text;
      wanted[ascii_upper(m.files[it->second].path)] = true;
    }
  for (const auto &w : wanted) {
    if (w.second)
      continue;
    const std::string &path = m.files[r.by_path[w.first]].path;
    std::string why = listing + " lists it, but its copy is not in " + copies +
                      ": its text is not known (the rehearsal reads it as empty)";
    warn(r, shown(r, listing), 0, "'" + display_utf8(name_of(path)) + "': " + why,
         "listed INF files without their copy");
    not_known(r, machine_unknown::contents, false, path, why);
  }
}

bool read_snapshot(const std::string &folder, machine_description &machine, load_error &error) {
  machine = machine_description();
  machine.whole = true;
  machine.inputs.push_back(folder);
  snapshot_reader r{folder, {}, &machine, &error, false, "", {}};
  std::error_code ec;
  for (const fs::directory_entry &e : fs::directory_iterator(folder, ec))
    r.entries[ascii_upper(e.path().filename().string())] = e.path();
  if (ec)
    return fail_at(r, folder, 0, "cannot be read as a snapshot folder: " + ec.message());
  if (!read_where(r) || !read_version(r) || !read_registry(r, "SYSTEM.REG", "") ||
      (r.win98 && !read_registry(r, "ENUM.REG", "Enum")))
    return false;
  std::string inf = machine.windows_directory + "\\inf";
  if (!read_folder(r, "INF", inf, true) ||
      (r.win98 && !read_folder(r, "OTHER", inf + "\\OTHER", false)) ||
      !read_folder(r, "SYSTEM", machine.system_directory, true) ||
      !read_folder(r, "DRIVERS", machine.system_directory + "\\drivers", !r.win98))
    return false;
  read_copies(r, "OEMINF", "INF.DIR", inf, true);
  if (r.win98)
    read_copies(r, "OTHERINF", "OTHER.DIR", inf + "\\OTHER", false);
  // What no snapshot can show.
  not_known(r, machine_unknown::in_use, false, "",
            "whether a program or a loaded driver held it open: a snapshot cannot show it, and "
            "the rehearsal deleted it as a file nothing uses");
  if (!machine.win98 && machine.major >= 6)
    not_known(r, machine_unknown::driver_store, false, inf,
              "whether the driver package it was published from left the driver store with it: "
              "a snapshot does not list the store's package folders");
  return true;
}

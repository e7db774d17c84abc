// Reading a snapshot folder written by tools/snapshot.bat into a machine description.
#include "tools/snapshot.h"

#include "tools/encoding.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// One snapshot folder being read: its entries by upper-cased name.
struct snapshot_reader {
  std::string folder;
  std::map<std::string, fs::path> entries;
  machine_description *machine;
  std::vector<std::string> *warnings;
  load_error *error;
};

// A file of the machine as the listings show it.
struct listed_file {
  std::string path;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
};

} // namespace

static bool fail_at(snapshot_reader &r, const std::string &file, int line,
                    const std::string &what) {
  *r.error = load_error{file, line, what};
  return false;
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

// Where a full path ("C:\\...") begins in a line, after a blank or at its start.
static size_t drive_path_at(const std::string &line) {
  for (size_t i = 0; i + 2 < line.size(); ++i)
    if (std::isalpha(static_cast<unsigned char>(line[i])) && line[i + 1] == ':' &&
        line[i + 2] == '\\' && (i == 0 || line[i - 1] == ' '))
      return i;
  return std::string::npos;
}

// ---- VER.TXT and WHERE.TXT --------------------------------------------------------------

// The first "N.N[.N[.N]]" of the text: "Windows 98 [Version 4.10.2222]",
// "Microsoft Windows [Version 10.0.19045.3803]" and Wine's "Microsoft Windows 10.0.19043".
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

static bool read_where(snapshot_reader &r, bool &win98) {
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
    } else if (word == "family" && (rest == "nt" || rest == "win98")) {
      win98 = rest == "win98";
      have_family = true;
    } else {
      return fail_at(r, shown(r, "WHERE.TXT"), number,
                     "expected 'windows PATH', 'system PATH' or 'family nt|win98'");
    }
  }
  if (m.windows_directory.empty() || m.system_directory.empty() || !have_family)
    return fail_at(r, shown(r, "WHERE.TXT"), 0,
                   "needs a windows, a system and a family line; take the snapshot again");
  return true;
}

static bool read_version(snapshot_reader &r, bool win98) {
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
  m.win98 = win98;
  m.major = numbers[0];
  m.minor = numbers[1];
  m.build = numbers.size() > 2 ? numbers[2] : 0;
  if (win98 && m.major == 4 && m.minor >= 10) {
    // Windows 98 reports the version in the build number's high word as well.
    m.build = (m.major << 24) | (m.minor << 16) | (m.build & 0xFFFF);
  } else if (win98) {
    r.warnings->push_back(shown(r, "VER.TXT") + ": '" + display_utf8(text) +
                          "' is no Windows 98 version; rehearsing as Windows 98 SE "
                          "(4.10.2222), the version Wine's win98 mode reports");
    m.major = 4;
    m.minor = 10;
    m.build = 0x040A08AE;
  }
  m.source = "snapshot " + r.folder + " (" + text + ")";
  return true;
}

// ---- Registry ---------------------------------------------------------------------------

static bool read_registry(snapshot_reader &r, const std::string &name, bool required) {
  fs::path p = entry(r, name);
  if (p.empty()) {
    if (required)
      return fail_at(r, shown(r, name), 0, "cannot be read: the registry export is missing");
    r.warnings->push_back(shown(r, name) + ": missing; the machine has no such registry branch");
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

// The lines of a listing; false, with a warning unless the family's snapshot has no such
// listing, when it is missing.
static bool listing_lines(snapshot_reader &r, const std::string &name, bool optional,
                          const char *consequence, std::vector<std::string> &lines) {
  std::string bytes;
  if (read_entry(r, name, bytes)) {
    lines = text_lines(bytes);
    return true;
  }
  if (!optional)
    r.warnings->push_back(shown(r, name) + ": missing; " + consequence);
  return false;
}

// An attrib listing: the files it names with their attributes. A line of another form is a
// message ("File not found - C:\WINDOWS\inf\OTHER\*.*", in the machine's language); a
// listing of nothing but messages is that of an empty or missing folder, a message among
// files is refused.
static bool read_attrib(snapshot_reader &r, const std::string &name, bool optional,
                        std::vector<listed_file> &files) {
  std::vector<std::string> lines;
  if (!listing_lines(r, name, optional, "the folder's files are not known", lines))
    return true;
  int first_message = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.find_first_not_of(" \t") == std::string::npos)
      continue;
    size_t at = drive_path_at(line);
    listed_file f;
    if (at != std::string::npos && line.find_first_of("*?", at) == std::string::npos &&
        attribute_letters(line.substr(0, at), f.attributes)) {
      f.path = line.substr(at);
      files.push_back(f);
    } else if (first_message == 0) {
      first_message = static_cast<int>(i) + 1;
    }
  }
  if (first_message && !files.empty())
    return fail_at(r, shown(r, name), first_message,
                   "cannot read this attrib line (expected attribute letters and a full path "
                   "such as 'A    C:\\WINDOWS\\inf\\mdmgen.inf')");
  return true;
}

// A dir /b listing: one name a line.
static bool read_dir(snapshot_reader &r, const std::string &name, bool optional,
                     std::vector<std::string> &names) {
  std::vector<std::string> lines;
  if (!listing_lines(r, name, optional, "the folder's files are taken from attrib", lines))
    return true;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.empty() || line == "." || line == "..")
      continue;
    if (line.find_first_of("\\/:*?\"<>|") != std::string::npos)
      return fail_at(r, shown(r, name), static_cast<int>(i) + 1,
                     "cannot read this dir /b line: a file name cannot hold \\ / : * ? \" < > |");
    names.push_back(line);
  }
  return true;
}

static std::string name_of(const std::string &path) {
  return path.substr(path.rfind('\\') + 1);
}

// The files of one folder: the names dir lists (long names on every version), with the
// attributes attrib gives them. When attrib found nothing, the folder is empty or missing
// and what dir wrote is its own "not found" message. `optional`: the family's snapshot
// has no such listing.
static bool read_folder(snapshot_reader &r, const std::string &listing, const std::string &folder,
                        bool optional) {
  std::vector<listed_file> attributes;
  std::vector<std::string> names;
  if (!read_attrib(r, listing + ".ATT", optional, attributes) ||
      !read_dir(r, listing + ".DIR", optional, names))
    return false;
  if (attributes.empty())
    return true;
  machine_description &m = *r.machine;
  m.files.push_back(machine_file_entry{folder, true, FILE_ATTRIBUTE_DIRECTORY, "", 0, 0});
  std::map<std::string, size_t> by_name; // upper-cased name -> index in m.files
  for (const std::string &name : names) {
    by_name[ascii_upper(name)] = m.files.size();
    m.files.push_back(
        machine_file_entry{folder + "\\" + name, false, FILE_ATTRIBUTE_ARCHIVE, "", 0, 0});
  }
  for (const listed_file &f : attributes) {
    auto it = by_name.find(ascii_upper(name_of(f.path)));
    if (it != by_name.end()) {
      m.files[it->second].attributes = f.attributes;
    } else {
      by_name[ascii_upper(name_of(f.path))] = m.files.size();
      m.files.push_back(machine_file_entry{f.path, false, f.attributes, "", 0, 0});
    }
  }
  return true;
}

// The copies of the INF files: their text, as the INF functions read it. A Unicode INF
// (UTF-16LE with a byte-order mark) is read as the ANSI functions see it.
static void read_copies(snapshot_reader &r, const std::string &copies, const std::string &folder) {
  fs::path directory = entry(r, copies);
  std::error_code ec;
  if (directory.empty() || !fs::is_directory(directory, ec))
    return;
  machine_description &m = *r.machine;
  std::map<std::string, size_t> by_path;
  for (size_t i = 0; i < m.files.size(); ++i)
    by_path[ascii_upper(m.files[i].path)] = i;
  for (const fs::directory_entry &e : fs::directory_iterator(directory, ec)) {
    std::string text;
    if (!e.is_regular_file(ec) || !read_bytes(e.path().string(), text))
      continue;
    std::string path = folder + "\\" + e.path().filename().string();
    if (text.compare(0, 2, "\xFF\xFE") == 0) {
      std::string ansi;
      if (utf16le_to_cp932(text.substr(2), ansi))
        text = ansi;
      else
        r.warnings->push_back(e.path().string() +
                              ": a Unicode INF with characters outside code page 932; "
                              "its text is not used");
    }
    auto it = by_path.find(ascii_upper(path));
    if (it != by_path.end())
      m.files[it->second].contents = text;
    else
      m.files.push_back(machine_file_entry{path, false, FILE_ATTRIBUTE_ARCHIVE, text, 0, 0});
  }
}

bool read_snapshot(const std::string &folder, machine_description &machine,
                   std::vector<std::string> &warnings, load_error &error) {
  machine = machine_description();
  snapshot_reader r{folder, {}, &machine, &warnings, &error};
  std::error_code ec;
  for (const fs::directory_entry &e : fs::directory_iterator(folder, ec))
    r.entries[ascii_upper(e.path().filename().string())] = e.path();
  if (ec)
    return fail_at(r, folder, 0, "cannot be read as a snapshot folder: " + ec.message());
  bool win98 = false;
  if (!read_where(r, win98) || !read_version(r, win98) || !read_registry(r, "SYSTEM.REG", true) ||
      (win98 && !read_registry(r, "ENUM.REG", false)))
    return false;
  std::string inf = machine.windows_directory + "\\inf";
  if (!read_folder(r, "INF", inf, false) || !read_folder(r, "OTHER", inf + "\\OTHER", !win98) ||
      !read_folder(r, "SYSTEM", machine.system_directory, false) ||
      !read_folder(r, "DRIVERS", machine.system_directory + "\\drivers", false))
    return false;
  read_copies(r, "OEMINF", inf);
  read_copies(r, "OTHERINF", inf + "\\OTHER");
  return true;
}

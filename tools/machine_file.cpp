// Reading machine files and setting the simulated machine up from them.
#include "tools/machine_file.h"

#include "tools/encoding.h"

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

static bool read_bytes(const std::string &path, std::string &bytes) {
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

static std::string windows_directory(const machine_description &m) {
  return m.windows_directory.empty() ? "C:\\WINDOWS" : m.windows_directory;
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
  return word.find('=') != std::string::npos;
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
    if (option_value(w[i], "delete-error", value)) {
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
    return reader_fail(r, "expected: file PATH [attributes] [delete-error=N] [attributes-error=N]");
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

static bool read_device(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 2)
    return reader_fail(r, "expected: device INSTANCE-ID [HARDWARE-ID ...] [absent] "
                          "[remove-error=N] [driver=CLASS-GUID\\NNNN]");
  sim::device d;
  if (!name_arg(r, w[1], d.instance_id))
    return false;
  d.has_hardware_ids = false;
  for (size_t i = 2; i < w.size(); ++i) {
    std::string value;
    if (w[i] == "absent") {
      d.present = false;
    } else if (option_value(w[i], "remove-error", value)) {
      if (!number_arg(r, value, "remove-error", d.remove_error))
        return false;
    } else if (option_value(w[i], "driver", value)) {
      if (!name_arg(r, value, d.driver))
        return false;
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

static bool read_registry(machine_reader &r, const std::vector<std::string> &w) {
  machine_description &m = *r.machine;
  if (w.size() == 2) {
    reg_format format = reg_format_regedit5;
    std::vector<reg_op> ops;
    std::string path = join_path(r.base_directory, w[1]);
    if (!std::ifstream(path))
      return reader_fail(r, "cannot read the .reg file '" + w[1] + "'");
    if (!read_reg_file(path, format, ops, *r.error, &m.warnings))
      return false;
    if (!m.has_reg_format) {
      m.has_reg_format = true;
      m.registry_format = format;
    }
    m.registry.insert(m.registry.end(), ops.begin(), ops.end());
    return true;
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
  return read_reg_body(block, static_cast<int>(start) + 2, reg_format_regedit4, r.file, m.registry,
                       *r.error, &m.warnings);
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
  if (!name_arg(r, w[1], path))
    return false;
  r.machine->denied_keys.emplace_back(path, w[2] == "write" ? KEY_WRITE : KEY_ALL_ACCESS);
  return true;
}

static bool read_fail(machine_reader &r, const std::vector<std::string> &w) {
  if (w.size() < 3)
    return reader_fail(r, "expected: fail FUNCTION ERROR [SUBJECT] [nth=N] [times=N]");
  sim::fault f;
  f.function = w[1];
  if (!number_arg(r, w[2], "the error", f.error))
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
    } else {
      return reader_fail(r, "unknown fail option '" + w[i] + "'");
    }
  }
  r.machine->faults.push_back(f);
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
  std::istringstream in(text);
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
    error = load_error{file_name, 0, "no platform line: the machine needs one"};
    return false;
  }
  return true;
}

bool read_machine_file(const std::string &path, machine_description &machine, load_error &error) {
  std::string text;
  if (!read_bytes(path, text)) {
    error = load_error{path, 0, "cannot be read"};
    return false;
  }
  size_t slash = path.rfind('/');
  return read_machine_text(text, path, slash == std::string::npos ? "" : path.substr(0, slash),
                           machine, error);
}

void apply_machine(const machine_description &m) {
  if (m.win98) {
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
  }
  for (const sim::device &d : m.devices)
    sim::device_add(d);
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

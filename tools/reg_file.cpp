// Reading and writing .reg files. The text is handled as code page 932 in both formats (a
// Unicode file is converted line by line), so every scan below steps over double-byte
// characters whole: the trail byte of a character such as 0x83 0x5C is not a backslash.
#include "tools/reg_file.h"

#include "core/cp932.h"

#include "sim/sim.h"
#include "tools/encoding.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

static const char header4[] = "REGEDIT4";
static const char header5[] = "Windows Registry Editor Version 5.00";
static const char root_name[] = "HKEY_LOCAL_MACHINE";

std::string describe(const load_error &error) {
  if (error.line <= 0)
    return error.file + ": " + error.what;
  return error.file + ":" + std::to_string(error.line) + ": " + error.what;
}

std::string describe_warning(const load_error &warning) {
  load_error shown = warning;
  shown.what = "warning: " + warning.what;
  return describe(shown);
}

static bool fail(load_error &error, const std::string &file, int line, const std::string &what) {
  error.file = file;
  error.line = line;
  error.what = what;
  return false;
}

static bool blank(char c) {
  return c == ' ' || c == '\t';
}

static size_t skip_blanks(const std::string &s, size_t i) {
  while (i < s.size() && blank(s[i]))
    ++i;
  return i;
}

static std::string trim(const std::string &s) {
  size_t begin = skip_blanks(s, 0);
  size_t end = s.size();
  while (end > begin && blank(s[end - 1]))
    --end;
  return s.substr(begin, end - begin);
}

// Length of the character at s[i]: 2 for a complete double-byte character, else 1.
static size_t char_length(const std::string &s, size_t i) {
  return cp932_char_size(s.data() + i, s.size() - i);
}

// Windows' limits on what a registry holds (Microsoft's "Registry element size limits"): a
// key name of 255 characters, a value name of 16,383, a tree 512 levels deep (counted here
// below HKEY_LOCAL_MACHINE). A file beyond them could not have been exported from Windows.
static const size_t max_key_name = 255;
static const size_t max_value_name = 16383;
static const size_t max_key_depth = 512;

// Splits a key path at backslashes that are characters of their own.
static std::vector<std::string> split_path(const std::string &path) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < path.size();) {
    size_t length = char_length(path, i);
    if (length == 1 && path[i] == '\\')
      parts.emplace_back();
    else
      parts.back() += path.substr(i, length);
    i += length;
  }
  return parts;
}

// ---- Reading ----------------------------------------------------------------------------

// The state of one pass over a .reg body.
struct reg_reader {
  const std::vector<std::string> *lines;
  size_t index;   // the line being read
  int first_line; // number of lines[0]
  reg_format format;
  std::string file;
  bool in_key;
  bool key_deleted;
  bool skipping; // in a section of another root: read, but not kept
  std::string key;
  std::vector<reg_op> *ops;
  load_error *error;
  std::vector<load_error> *warnings; // may be null
};

static int line_number(const reg_reader &r) {
  return r.first_line + static_cast<int>(r.index);
}

static bool reader_fail(reg_reader &r, const std::string &what) {
  return fail(*r.error, r.file, line_number(r), what);
}

static void warn(std::vector<load_error> *warnings, const std::string &file, int line,
                 const std::string &what, const std::string &kind) {
  if (warnings)
    warnings->push_back(load_error{file, line, what, kind});
}

static const char replaced_kind[] = "characters outside code page 932 read as '?'";

static std::string replaced_text(size_t replaced) {
  return std::to_string(replaced) + (replaced == 1 ? " character" : " characters") +
         " outside code page 932 read as '?', as Windows' ANSI functions see them";
}

// Whether only blanks or a comment follow position i.
static bool rest_is_empty(const std::string &s, size_t i) {
  i = skip_blanks(s, i);
  return i == s.size() || s[i] == ';';
}

// A quoted string starting at s[i] == '"': \\ and \" are the only escapes.
static bool read_quoted(reg_reader &r, const std::string &s, size_t &i, std::string &out) {
  out.clear();
  for (++i; i < s.size();) {
    size_t length = char_length(s, i);
    if (length == 2) {
      out += s.substr(i, 2);
    } else if (s[i] == '"') {
      ++i;
      return true;
    } else if (s[i] == '\\') {
      if (i + 1 >= s.size())
        return reader_fail(r, "string not closed: it ends in a backslash");
      if (s[i + 1] != '\\' && s[i + 1] != '"')
        return reader_fail(r, std::string("unknown escape \\") + s[i + 1] +
                                  " in a string (only \\\\ and \\\" are written)");
      out += s[i + 1];
      length = 2;
    } else {
      out += s[i];
    }
    i += length;
  }
  return reader_fail(r, "string not closed: missing '\"'");
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Hexadecimal digits at s[i], at most `max_digits` of them. False when there are none or
// too many.
static bool read_hex_number(const std::string &s, size_t &i, size_t max_digits,
                            unsigned long &value) {
  size_t start = i;
  value = 0;
  while (i < s.size() && hex_digit(s[i]) >= 0) {
    value = value * 16 + static_cast<unsigned long>(hex_digit(s[i]));
    ++i;
  }
  return i > start && i - start <= max_digits;
}

// The byte list of hex: and hex(n): data, following continuation lines ("\" at the end of a
// line carries the list on to the next line).
static bool read_hex_bytes(reg_reader &r, size_t i, std::string &bytes) {
  const std::string *s = &(*r.lines)[r.index];
  bool need_byte = false;
  for (;;) {
    i = skip_blanks(*s, i);
    if (i < s->size() && (*s)[i] == '\\' && rest_is_empty(*s, i + 1)) {
      if (r.index + 1 >= r.lines->size())
        return reader_fail(r, "the file ends after a continuation '\\'");
      ++r.index;
      s = &(*r.lines)[r.index];
      i = 0;
      continue;
    }
    if (i >= s->size() || (*s)[i] == ';') {
      if (need_byte)
        return reader_fail(r, "a byte is missing after the last ','");
      return true;
    }
    unsigned long value = 0;
    size_t start = i;
    bool read = read_hex_number(*s, i, 2, value);
    if (!read || (i < s->size() && isalnum(static_cast<unsigned char>((*s)[i]))))
      return reader_fail(r, "bad hex byte '" + s->substr(start, i - start + 1) +
                                "' (bytes are two hex digits separated by ',')");
    bytes += static_cast<char>(value);
    i = skip_blanks(*s, i);
    if (i < s->size() && (*s)[i] == ',') {
      ++i;
      need_byte = true;
      continue;
    }
    if (!rest_is_empty(*s, i))
      return reader_fail(r, "expected ',' between hex bytes");
    return true;
  }
}

static bool string_type(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data after "=" of a value line; sets op.kind, op.type and op.data.
static bool read_value_data(reg_reader &r, const std::string &s, size_t i, reg_op &op) {
  i = skip_blanks(s, i);
  std::string rest = s.substr(i);
  if (!rest.empty() && rest[0] == '-') {
    if (!rest_is_empty(s, i + 1))
      return reader_fail(r, "unexpected text after '=-'");
    op.kind = reg_op::delete_value;
    return true;
  }
  op.kind = reg_op::set_value;
  if (!rest.empty() && rest[0] == '"') {
    std::string text;
    if (!read_quoted(r, s, i, text))
      return false;
    if (!rest_is_empty(s, i))
      return reader_fail(r, "unexpected text after the string");
    op.type = REG_SZ;
    op.data = text + '\0';
    return true;
  }
  if (ascii_iequal(rest.substr(0, 6), "dword:")) {
    i += 6;
    unsigned long value = 0;
    size_t start = i;
    if (!read_hex_number(s, i, 8, value))
      return reader_fail(r, "dword: needs 1 to 8 hex digits, not '" +
                                trim(s.substr(start, i - start + 1)) + "'");
    if (!rest_is_empty(s, i))
      return reader_fail(r, "unexpected text after the dword");
    op.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8)
      op.data += static_cast<char>((value >> shift) & 0xFF);
    return true;
  }
  if (ascii_iequal(rest.substr(0, 4), "hex:")) {
    op.type = REG_BINARY;
    i += 4;
  } else if (ascii_iequal(rest.substr(0, 4), "hex(")) {
    i += 4;
    unsigned long type = 0;
    if (!read_hex_number(s, i, 8, type) || i + 1 >= s.size() || s[i] != ')' || s[i + 1] != ':')
      return reader_fail(r, "bad value type: expected hex(n): with n in hex digits");
    op.type = static_cast<DWORD>(type);
    i += 2;
  } else {
    return reader_fail(r, "unknown value data: expected \"text\", dword:, hex:, hex(n): or -");
  }
  std::string bytes;
  if (!read_hex_bytes(r, i, bytes))
    return false;
  // The Unicode format holds string types as UTF-16LE; the ANSI calls see code page 932.
  if (r.format == reg_format_regedit5 && string_type(op.type)) {
    if (bytes.size() % 2 != 0)
      return reader_fail(r, "UTF-16 string data with an odd number of bytes");
    if (size_t replaced = utf16le_to_cp932_default(bytes, op.data))
      if (!r.skipping)
        warn(r.warnings, r.file, line_number(r), "string data: " + replaced_text(replaced),
             replaced_kind);
  } else {
    op.data = bytes;
  }
  return true;
}

static bool read_key_line(reg_reader &r, const std::string &line) {
  if (line.back() != ']')
    return reader_fail(r, "a key line must end with ']'");
  bool deletion = line.size() > 1 && line[1] == '-';
  std::string path = line.substr(deletion ? 2 : 1, line.size() - (deletion ? 3 : 2));
  std::vector<std::string> parts = split_path(path);
  r.in_key = true;
  r.key_deleted = deletion;
  r.skipping = false;
  if (!ascii_iequal(parts[0], root_name)) {
    // A whole-registry export holds the other roots too; the uninstaller reads only
    // HKEY_LOCAL_MACHINE, so their sections (and the values in them) are left out.
    static const char *other_roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                        "HKEY_USERS",        "HKEY_CURRENT_CONFIG",
                                        "HKEY_DYN_DATA",     "HKEY_PERFORMANCE_DATA"};
    for (const char *other : other_roots)
      if (ascii_iequal(parts[0], other)) {
        warn(r.warnings, r.file, line_number(r),
             std::string("section of ") + other + " skipped: only " + root_name + " is simulated",
             "");
        r.skipping = true;
        return true;
      }
    return reader_fail(r, "unknown root key '" + parts[0] + "'");
  }
  if (parts.size() - 1 > max_key_depth)
    return reader_fail(r, "the key is " + std::to_string(parts.size() - 1) +
                              " levels deep: Windows allows " + std::to_string(max_key_depth));
  std::string key;
  for (size_t p = 1; p < parts.size(); ++p) {
    if (parts[p].empty())
      return reader_fail(r, "empty key name in '" + path + "'");
    if (char_count(parts[p]) > max_key_name)
      return reader_fail(r, "a key name of " + std::to_string(char_count(parts[p])) +
                                " characters: Windows allows " + std::to_string(max_key_name));
    key += (p > 1 ? "\\" : "") + parts[p];
  }
  reg_op op;
  op.kind = deletion ? reg_op::delete_key : reg_op::add_key;
  op.key = key;
  op.line = line_number(r);
  r.ops->push_back(op);
  r.key = key;
  return true;
}

// A value line whose name or data cannot be read. regedit exports every value as it is,
// malformed data included (hex(2) data of odd length, a string with line breaks written raw),
// so such a value is skipped with a warning instead of refusing the file: it and the lines
// that carry it on, up to the next line that starts a key, a value or a comment.
static void skip_malformed_value(reg_reader &r, size_t first) {
  warn(r.warnings, r.file, r.first_line + static_cast<int>(first),
       "value skipped: " + r.error->what, "malformed values skipped");
  r.index = first;
  while (r.index + 1 < r.lines->size()) {
    std::string next = trim((*r.lines)[r.index + 1]);
    if (next.empty() || next[0] == '[' || next[0] == '"' || next[0] == '@' || next[0] == ';')
      break;
    ++r.index;
  }
}

static bool read_value_line(reg_reader &r, const std::string &s, size_t i) {
  if (!r.in_key)
    return reader_fail(r, "a value before the first [key] line");
  if (r.key_deleted)
    return reader_fail(r, "a value under a [-key] deletion line");
  reg_op op;
  op.key = r.key;
  op.line = line_number(r);
  size_t first = r.index;
  if (s[i] == '@') {
    ++i;
  } else if (!read_quoted(r, s, i, op.name)) {
    skip_malformed_value(r, first);
    return true;
  } else if (char_count(op.name) > max_value_name) {
    return reader_fail(r, "a value name of " + std::to_string(char_count(op.name)) +
                              " characters: Windows allows " + std::to_string(max_value_name));
  }
  i = skip_blanks(s, i);
  if (i >= s.size() || s[i] != '=' || !read_value_data(r, s, i + 1, op)) {
    if (i >= s.size() || s[i] != '=')
      reader_fail(r, "expected '=' after the value name");
    skip_malformed_value(r, first);
    return true;
  }
  if (!r.skipping)
    r.ops->push_back(op);
  return true;
}

bool read_reg_body(const std::vector<std::string> &lines, int first_line, reg_format format,
                   const std::string &file_name, std::vector<reg_op> &ops, load_error &error,
                   std::vector<load_error> *warnings) {
  reg_reader r{&lines, 0,     first_line, format, file_name, false,
               false,  false, "",         &ops,   &error,    warnings};
  for (; r.index < lines.size(); ++r.index) {
    const std::string &s = lines[r.index];
    size_t i = skip_blanks(s, 0);
    std::string line = trim(s);
    if (line.empty() || line[0] == ';')
      continue;
    if (line[0] == '[') {
      if (!read_key_line(r, line))
        return false;
    } else if (line[0] == '"' || line[0] == '@') {
      if (!read_value_line(r, s, i))
        return false;
    } else {
      return reader_fail(r, "expected a [key] line, a \"name\"= or @= value line, or a comment");
    }
  }
  return true;
}

// Splits bytes into lines at LF, dropping a CR before it.
static std::vector<std::string> split_lines(const std::string &bytes) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : bytes) {
    if (c == '\n') {
      if (!current.empty() && current.back() == '\r')
        current.pop_back();
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty())
    lines.push_back(current);
  return lines;
}

// The lines of a UTF-16LE text (without its byte-order mark), each converted to code page 932
// as the ANSI functions would see it; a line with characters the code page lacks gets a
// warning.
static bool utf16_lines(const std::string &text, const std::string &file_name,
                        std::vector<std::string> &lines, load_error &error,
                        std::vector<load_error> *warnings) {
  size_t start = 0;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bool line_feed = text[i] == '\n' && text[i + 1] == '\0';
    if (!line_feed && i + 3 < text.size())
      continue;
    size_t end = line_feed ? i : i + 2;
    if (end - start >= 2 && text[end - 2] == '\r' && text[end - 1] == '\0')
      end -= 2;
    std::string converted;
    if (size_t replaced = utf16le_to_cp932_default(text.substr(start, end - start), converted))
      warn(warnings, file_name, static_cast<int>(lines.size()) + 1, replaced_text(replaced),
           replaced_kind);
    lines.push_back(converted);
    start = i + 2;
  }
  if (text.size() % 2 != 0)
    return fail(error, file_name, static_cast<int>(lines.size()) + 1,
                "the file ends in the middle of a UTF-16 character");
  return true;
}

bool read_reg_text(const std::string &bytes, const std::string &file_name, reg_format &format,
                   std::vector<reg_op> &ops, load_error &error, std::vector<load_error> *warnings) {
  size_t first_warning = warnings ? warnings->size() : 0;
  std::vector<std::string> lines;
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    if (!utf16_lines(bytes.substr(2), file_name, lines, error, warnings))
      return false;
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
    return fail(error, file_name, 1,
                "not an encoding of .reg files: use UTF-16LE with a byte-order mark or code page "
                "932 text");
  } else {
    lines = split_lines(bytes);
  }
  std::string header = lines.empty() ? std::string() : trim(lines[0]);
  if (header == header4)
    format = reg_format_regedit4;
  else if (header == header5)
    format = reg_format_regedit5;
  else
    return fail(error, file_name, 1,
                std::string("the first line must be \"") + header4 + "\" or \"" + header5 + "\"");
  lines.erase(lines.begin());
  bool read = read_reg_body(lines, 2, format, file_name, ops, error, warnings);
  if (warnings) // those of the conversion came first: in line order with the others
    std::stable_sort(warnings->begin() + static_cast<std::ptrdiff_t>(first_warning),
                     warnings->end(),
                     [](const load_error &a, const load_error &b) { return a.line < b.line; });
  return read;
}

bool read_reg_file(const std::string &path, reg_format &format, std::vector<reg_op> &ops,
                   load_error &error, std::vector<load_error> *warnings) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return fail(error, path, 0, "cannot be read");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return read_reg_text(bytes.str(), path, format, ops, error, warnings);
}

// regedit writes keys in name order, so a control set's content under CurrentControlSet comes
// before SYSTEM\Select, whose "Current" names the numbered set that CurrentControlSet stands
// for. Select's values are therefore set first, wherever the file has them.
static bool select_value(const reg_op &op) {
  return op.kind == reg_op::set_value && ascii_iequal(op.key, "SYSTEM\\Select");
}

static void apply_op(const reg_op &op) {
  switch (op.kind) {
  case reg_op::add_key:
    if (!op.key.empty())
      sim::reg_add_key(op.key);
    break;
  case reg_op::delete_key:
    sim::reg_delete_key(op.key);
    break;
  case reg_op::set_value:
    sim::reg_set_value(op.key, op.name, op.type, op.data);
    break;
  case reg_op::delete_value:
    sim::reg_delete_value(op.key, op.name);
    break;
  }
}

void apply_reg(const std::vector<reg_op> &ops) {
  for (const reg_op &op : ops)
    if (select_value(op))
      apply_op(op);
  for (const reg_op &op : ops)
    apply_op(op);
}

// ---- Writing ----------------------------------------------------------------------------

static std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    size_t length = char_length(s, i);
    if (length == 1 && (s[i] == '\\' || s[i] == '"'))
      out += '\\';
    out += s.substr(i, length);
    i += length;
  }
  return out + "\"";
}

// Data that a "text" value gives back byte for byte: one terminating zero, none inside, no
// line breaks (the tools would write them raw and could not read the file back).
static bool plain_string(reg_format format, const std::string &data) {
  if (data.empty() || data.back() != '\0')
    return false;
  std::string text = data.substr(0, data.size() - 1);
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return false;
  std::string ignored;
  return format == reg_format_regedit4 || cp932_to_utf16le(text, ignored);
}

// hex: or hex(n): data, wrapped as the tools do: no line beyond 80 columns, continuation lines
// indented by two blanks.
static std::string hex_data(const std::string &start, const std::string &bytes) {
  std::string out = start;
  size_t column = start.size();
  char piece[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, "%02x", static_cast<unsigned char>(bytes[i]));
    out += piece;
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column >= 77) {
        out += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return out;
}

static std::string value_line(reg_format format, const sim::reg_value_data &v) {
  std::string start = (v.name.empty() ? std::string("@") : quoted(v.name)) + "=";
  if (v.type == REG_SZ && plain_string(format, v.data))
    return start + quoted(v.data.substr(0, v.data.size() - 1));
  if (v.type == REG_DWORD && v.data.size() == 4) {
    unsigned long value = 0;
    for (int i = 3; i >= 0; --i)
      value = value * 256 + static_cast<unsigned char>(v.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08lx", value);
    return start + text;
  }
  std::string bytes = v.data;
  std::string utf16;
  if (format == reg_format_regedit5 && string_type(v.type) && cp932_to_utf16le(v.data, utf16))
    bytes = utf16;
  char type[24];
  if (v.type == REG_BINARY)
    std::snprintf(type, sizeof type, "hex:");
  else
    std::snprintf(type, sizeof type, "hex(%lx):", static_cast<unsigned long>(v.type));
  return hex_data(start + type, bytes);
}

// Names cannot hold line breaks in a .reg file (nor "]" at the end of a key name's line).
static bool writable_name(const std::string &name) {
  return name.find_first_of("\r\n") == std::string::npos;
}

// One key's section: its line and its values.
static bool write_key(reg_format format, const std::string &path,
                      const std::vector<sim::reg_value_data> &values, std::string &text,
                      std::string &problem) {
  if (!writable_name(path)) {
    problem = "the key name '" + path + "' holds a line break";
    return false;
  }
  text += "[" + std::string(root_name) + (path.empty() ? "" : "\\" + path) + "]\r\n";
  for (const sim::reg_value_data &v : values) {
    if (!writable_name(v.name)) {
      problem = "a value name of '" + path + "' holds a line break";
      return false;
    }
    text += value_line(format, v) + "\r\n";
  }
  text += "\r\n";
  return true;
}

bool write_reg(reg_format format, std::string &bytes, std::string &problem) {
  std::string text = std::string(format == reg_format_regedit4 ? header4 : header5) + "\r\n\r\n";
  bool written = true;
  sim::reg_visit("", [&](const std::string &path, const std::vector<sim::reg_value_data> &values) {
    written = written && write_key(format, path, values, text, problem);
  });
  if (!written)
    return false;
  if (format == reg_format_regedit4) {
    bytes = text;
    return true;
  }
  std::string utf16;
  if (!cp932_to_utf16le(text, utf16)) {
    problem = "a key or value name is not valid code page 932 text";
    return false;
  }
  bytes = "\xFF\xFE" + utf16;
  return true;
}

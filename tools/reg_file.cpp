// Reading and writing .reg files. The text is handled as code page 932 in both formats (a
// Unicode file is converted line by line), so every scan below steps over double-byte
// characters whole: the trail byte of a character such as 0x83 0x5C is not a backslash.
#include "tools/reg_file.h"

#include "core/cp932.h"

#include "sim/sim.h"
#include "tools/encoding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string_view>

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

static size_t skip_blanks(std::string_view s, size_t i) {
  while (i < s.size() && blank(s[i]))
    ++i;
  return i;
}

static std::string_view trim(std::string_view s) {
  size_t begin = skip_blanks(s, 0);
  size_t end = s.size();
  while (end > begin && blank(s[end - 1]))
    --end;
  return s.substr(begin, end - begin);
}

// Length of the character at s[i]: 2 for a complete double-byte character, else 1.
static size_t char_length(std::string_view s, size_t i) {
  return cp932_char_size(s.data() + i, s.size() - i);
}

// Windows' limits on what a registry holds (Microsoft's "Registry element size limits"): a
// key name of 255 characters, a value name of 16,383, a tree 512 levels deep (counted here
// below HKEY_LOCAL_MACHINE). A file beyond them could not have been exported from Windows.
static const size_t max_key_name = 255;
static const size_t max_value_name = 16383;
static const size_t max_key_depth = 512;

// A name of a key path: where it ends (at a backslash that is a character of its own, or at
// the end of the path) and how many characters it has.
struct path_name {
  size_t end;
  size_t chars;
};

static void path_names(std::string_view path, std::vector<path_name> &names) {
  names.clear();
  for (size_t start = 0;;) {
    size_t end = std::min(path.find('\\', start), path.size());
    std::string_view piece = path.substr(start, end - start);
    if (std::all_of(piece.begin(), piece.end(), [](char c) { return (c & 0x80) == 0; })) {
      names.push_back(path_name{end, end - start}); // ASCII: no byte is a trail byte
    } else {
      // A double-byte character's trail byte may be 0x5C: the name ends at the first
      // backslash that is a character of its own.
      size_t chars = 0;
      for (end = start; end < path.size() && path[end] != '\\'; end += char_length(path, end))
        ++chars;
      names.push_back(path_name{end, chars});
    }
    if (end == path.size())
      return;
    start = end + 1;
  }
}

// ---- Reading ----------------------------------------------------------------------------
//
// A registry export of Windows 10 or 11 holds a million keys and takes hundreds of megabytes,
// so the text is read once, front to back, without a copy of each line: its lines are views
// of one code-page-932 text (a Unicode file converted as it is read), and each operation is
// handed on as soon as it is complete.

// The state of one pass over a .reg body: code page 932 text whose every line ends in '\n'.
struct reg_reader {
  const std::string *text;
  size_t next;           // where the line after the current one starts
  std::string_view line; // the current line, without its '\n'
  int number;            // the current line's number
  reg_format format;
  std::string file;
  bool in_key;
  bool key_deleted;
  bool skipping; // in a section of another root: read, but not kept
  std::string key;
  reg_op op;                    // the operation being read
  std::vector<path_name> names; // those of a key line's path
  const reg_sink *sink;
  load_error *error;
  std::vector<load_error> *warnings; // may be null
};

// Moves to the next line; false at the end of the text.
static bool next_line(reg_reader &r) {
  if (r.next >= r.text->size())
    return false;
  size_t end = r.text->find('\n', r.next);
  r.line = std::string_view(*r.text).substr(r.next, end - r.next);
  r.next = end + 1;
  ++r.number;
  return true;
}

static int line_number(const reg_reader &r) {
  return r.number;
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
static bool rest_is_empty(std::string_view s, size_t i) {
  i = skip_blanks(s, i);
  return i == s.size() || s[i] == ';';
}

// A quoted string starting at s[i] == '"': \\ and \" are the only escapes.
static bool read_quoted(reg_reader &r, std::string_view s, size_t &i, std::string &out) {
  out.clear();
  for (++i; i < s.size();) {
    size_t length = char_length(s, i);
    if (length == 2) {
      out.append(s.data() + i, 2);
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
static bool read_hex_number(std::string_view s, size_t &i, size_t max_digits,
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
  bool need_byte = false;
  for (;;) {
    std::string_view s = r.line;
    int high, low;
    if (i + 2 < s.size() && s[i + 2] == ',' && (high = hex_digit(s[i])) >= 0 &&
        (low = hex_digit(s[i + 1])) >= 0) {
      // "xx," as the tools write every byte but a line's last.
      bytes += static_cast<char>(high * 16 + low);
      i += 3;
      need_byte = true;
      continue;
    }
    i = skip_blanks(s, i);
    if (i < s.size() && s[i] == '\\' && rest_is_empty(s, i + 1)) {
      if (!next_line(r))
        return reader_fail(r, "the file ends after a continuation '\\'");
      i = 0;
      continue;
    }
    if (i >= s.size() || s[i] == ';') {
      if (need_byte)
        return reader_fail(r, "a byte is missing after the last ','");
      return true;
    }
    unsigned long value = 0;
    size_t start = i;
    bool read = read_hex_number(s, i, 2, value);
    if (!read || (i < s.size() && isalnum(static_cast<unsigned char>(s[i]))))
      return reader_fail(r, "bad hex byte '" + std::string(s.substr(start, i - start + 1)) +
                                "' (bytes are two hex digits separated by ',')");
    bytes += static_cast<char>(value);
    i = skip_blanks(s, i);
    if (i < s.size() && s[i] == ',') {
      ++i;
      need_byte = true;
      continue;
    }
    if (!rest_is_empty(s, i))
      return reader_fail(r, "expected ',' between hex bytes");
    return true;
  }
}

static bool string_type(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data after "=" of a value line; sets op.kind, op.type and op.data.
static bool read_value_data(reg_reader &r, std::string_view s, size_t i, reg_op &op) {
  i = skip_blanks(s, i);
  std::string_view rest = s.substr(i);
  if (!rest.empty() && rest[0] == '-') {
    if (!rest_is_empty(s, i + 1))
      return reader_fail(r, "unexpected text after '=-'");
    op.kind = reg_op::delete_value;
    return true;
  }
  op.kind = reg_op::set_value;
  if (!rest.empty() && rest[0] == '"') {
    if (!read_quoted(r, s, i, op.data))
      return false;
    if (!rest_is_empty(s, i))
      return reader_fail(r, "unexpected text after the string");
    op.type = REG_SZ;
    op.data += '\0';
    return true;
  }
  if (ascii_starts_with(rest, "dword:")) {
    i += 6;
    unsigned long value = 0;
    size_t start = i;
    if (!read_hex_number(s, i, 8, value))
      return reader_fail(r, "dword: needs 1 to 8 hex digits, not '" +
                                std::string(trim(s.substr(start, i - start + 1))) + "'");
    if (!rest_is_empty(s, i))
      return reader_fail(r, "unexpected text after the dword");
    op.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8)
      op.data += static_cast<char>((value >> shift) & 0xFF);
    return true;
  }
  if (ascii_starts_with(rest, "hex:")) {
    op.type = REG_BINARY;
    i += 4;
  } else if (ascii_starts_with(rest, "hex(")) {
    i += 4;
    unsigned long type = 0;
    if (!read_hex_number(s, i, 8, type) || i + 1 >= s.size() || s[i] != ')' || s[i + 1] != ':')
      return reader_fail(r, "bad value type: expected hex(n): with n in hex digits");
    op.type = static_cast<DWORD>(type);
    i += 2;
  } else {
    return reader_fail(r, "unknown value data: expected \"text\", dword:, hex:, hex(n): or -");
  }
  // The Unicode format holds string types as UTF-16LE; the ANSI calls see code page 932.
  if (r.format == reg_format_regedit5 && string_type(op.type)) {
    std::string bytes;
    if (!read_hex_bytes(r, i, bytes))
      return false;
    if (bytes.size() % 2 != 0)
      return reader_fail(r, "UTF-16 string data with an odd number of bytes");
    if (size_t replaced = utf16le_to_cp932_default(bytes, op.data))
      if (!r.skipping)
        warn(r.warnings, r.file, line_number(r), "string data: " + replaced_text(replaced),
             replaced_kind);
    return true;
  }
  return read_hex_bytes(r, i, op.data);
}

static bool read_key_line(reg_reader &r, std::string_view line) {
  if (line.back() != ']')
    return reader_fail(r, "a key line must end with ']'");
  bool deletion = line.size() > 1 && line[1] == '-';
  std::string_view path = line.substr(deletion ? 2 : 1, line.size() - (deletion ? 3 : 2));
  std::vector<path_name> &names = r.names;
  path_names(path, names);
  std::string_view root = path.substr(0, names[0].end);
  r.in_key = true;
  r.key_deleted = deletion;
  r.skipping = false;
  if (root.size() != std::strlen(root_name) || !ascii_starts_with(root, root_name)) {
    // A whole-registry export holds the other roots too; the uninstaller reads only
    // HKEY_LOCAL_MACHINE, so their sections (and the values in them) are left out.
    static const char *other_roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                        "HKEY_USERS",        "HKEY_CURRENT_CONFIG",
                                        "HKEY_DYN_DATA",     "HKEY_PERFORMANCE_DATA"};
    for (const char *other : other_roots)
      if (root.size() == std::strlen(other) && ascii_starts_with(root, other)) {
        warn(r.warnings, r.file, line_number(r),
             std::string("section of ") + other + " skipped: only " + root_name + " is simulated",
             "");
        r.skipping = true;
        return true;
      }
    return reader_fail(r, "unknown root key '" + std::string(root) + "'");
  }
  if (names.size() - 1 > max_key_depth)
    return reader_fail(r, "the key is " + std::to_string(names.size() - 1) +
                              " levels deep: Windows allows " + std::to_string(max_key_depth));
  for (size_t p = 1; p < names.size(); ++p) {
    if (names[p].chars == 0)
      return reader_fail(r, "empty key name in '" + std::string(path) + "'");
    if (names[p].chars > max_key_name)
      return reader_fail(r, "a key name of " + std::to_string(names[p].chars) +
                                " characters: Windows allows " + std::to_string(max_key_name));
  }
  r.key.assign(names.size() > 1 ? path.substr(names[0].end + 1) : std::string_view());
  reg_op &op = r.op;
  op.kind = deletion ? reg_op::delete_key : reg_op::add_key;
  op.key = r.key;
  op.name.clear();
  op.type = 0;
  op.data.clear();
  op.line = line_number(r);
  (*r.sink)(op);
  return true;
}

// A value line whose name or data cannot be read. regedit exports every value as it is,
// malformed data included (hex(2) data of odd length, a string with line breaks written raw),
// so such a value is skipped with a warning instead of refusing the file: it and the lines
// that carry it on, up to the next line that starts a key, a value or a comment. `next` and
// `number` are where the value's first line left the reader.
static void skip_malformed_value(reg_reader &r, size_t next, int number) {
  warn(r.warnings, r.file, number, "value skipped: " + r.error->what, "malformed values skipped");
  r.next = next;
  r.number = number;
  while (r.next < r.text->size()) {
    size_t end = r.text->find('\n', r.next);
    std::string_view following = trim(std::string_view(*r.text).substr(r.next, end - r.next));
    if (following.empty() || following[0] == '[' || following[0] == '"' || following[0] == '@' ||
        following[0] == ';')
      break;
    next_line(r);
  }
}

static bool read_value_line(reg_reader &r, std::string_view s, size_t i) {
  if (!r.in_key)
    return reader_fail(r, "a value before the first [key] line");
  if (r.key_deleted)
    return reader_fail(r, "a value under a [-key] deletion line");
  reg_op &op = r.op;
  op.key = r.key;
  op.name.clear();
  op.type = 0;
  op.data.clear();
  op.line = line_number(r);
  size_t first_next = r.next;
  int first_number = r.number;
  if (s[i] == '@') {
    ++i;
  } else if (!read_quoted(r, s, i, op.name)) {
    skip_malformed_value(r, first_next, first_number);
    return true;
  } else if (char_count(op.name) > max_value_name) {
    return reader_fail(r, "a value name of " + std::to_string(char_count(op.name)) +
                              " characters: Windows allows " + std::to_string(max_value_name));
  }
  i = skip_blanks(s, i);
  if (i >= s.size() || s[i] != '=' || !read_value_data(r, s, i + 1, op)) {
    if (i >= s.size() || s[i] != '=')
      reader_fail(r, "expected '=' after the value name");
    skip_malformed_value(r, first_next, first_number);
    return true;
  }
  if (!r.skipping)
    (*r.sink)(op);
  return true;
}

// Reads the body of `text` that follows the line numbered `number` ending at `next`.
// Reads the lines from r.next up to `end`, where a line starts (or the text ends).
static bool read_lines_to(reg_reader &r, size_t end) {
  while (r.next < end && next_line(r)) {
    std::string_view s = r.line;
    size_t i = skip_blanks(s, 0);
    std::string_view line = trim(s);
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

static reg_reader new_reader(const std::string &text, size_t next, int number, reg_format format,
                             const std::string &file_name, const reg_sink &sink, load_error &error,
                             std::vector<load_error> *warnings) {
  return reg_reader{&text, next, {}, number, format, file_name, false,   false,
                    false, "",   {}, {},     &sink,  &error,    warnings};
}

static bool read_body(const std::string &text, size_t next, int number, reg_format format,
                      const std::string &file_name, const reg_sink &sink, load_error &error,
                      std::vector<load_error> *warnings) {
  reg_reader r = new_reader(text, next, number, format, file_name, sink, error, warnings);
  return read_lines_to(r, text.size());
}

static reg_sink append_to(std::vector<reg_op> &ops) {
  return [&ops](const reg_op &op) { ops.push_back(op); };
}

bool read_reg_body(const std::vector<std::string> &lines, int first_line, reg_format format,
                   const std::string &file_name, std::vector<reg_op> &ops, load_error &error,
                   std::vector<load_error> *warnings) {
  std::string text;
  for (const std::string &line : lines)
    text += line + '\n';
  return read_body(text, 0, first_line - 1, format, file_name, append_to(ops), error, warnings);
}

// ---- From bytes to lines ----------------------------------------------------------------

// Code page 932 text with its lines ended as read_body() wants them: at '\n', a CR before it
// dropped, and a last line without a line end ended.
static void append_ansi_lines(const std::string &bytes, std::string &text) {
  text.reserve(text.size() + bytes.size() + 1);
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] != '\r' || i + 1 >= bytes.size() || bytes[i + 1] != '\n')
      text += bytes[i];
  if (!text.empty() && text.back() != '\n')
    text += '\n';
}

// Appends `size` bytes of UTF-16LE (from a code unit's start) to `text`, one byte a code
// unit, when they hold ASCII alone (in each code unit the low byte below 0x80, the high byte
// zero), as nearly every line of an export does; else appends nothing and returns false.
// Eight bytes at a time, read as one number: the hosted tools run on little-endian machines.
static bool append_ascii_utf16(const char *bytes, size_t size, std::string &text) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "code units are read in place");
  size_t at = text.size();
  text.resize(at + size / 2);
  char *out = &text[at];
  uint64_t seen = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8, out += 4) {
    uint64_t units;
    std::memcpy(&units, bytes + i, 8);
    seen |= units;
    uint32_t four = static_cast<uint32_t>((units & 0xFF) | (units >> 8 & 0xFF00) |
                                          (units >> 16 & 0xFF0000) | (units >> 24 & 0xFF000000));
    std::memcpy(out, &four, 4);
  }
  for (; i + 1 < size; i += 2) {
    seen |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) |
            static_cast<uint64_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    *out++ = bytes[i];
  }
  if ((seen & 0xFF80FF80FF80FF80ull) == 0)
    return true;
  text.resize(at);
  return false;
}

// Where the line that starts at bytes[start] ends: at its line feed (a code unit 0x000A), or
// at the last code unit when there is none.
static size_t utf16_line_end(const char *bytes, size_t size, size_t start) {
  for (size_t from = start; from < size;) {
    const char *found = static_cast<const char *>(std::memchr(bytes + from, '\n', size - from));
    if (!found)
      break;
    size_t at = static_cast<size_t>(found - bytes);
    if ((at - start) % 2 == 0 && at + 1 < size && bytes[at + 1] == '\0')
      return at;
    from = at + 1;
  }
  return start + (size - start) / 2 * 2;
}

// UTF-16LE text (without its byte-order mark) turned into such lines as Windows' ANSI
// functions see them, a line at a time; a line with characters the code page lacks gets a
// warning. A file is handed over in blocks, so only the lines that end in `bytes` are taken
// (all of them when `last`); returns how many bytes those took.
static size_t append_utf16_lines(const char *bytes, size_t size, bool last, int &line,
                                 std::string &text, const std::string &file_name,
                                 std::vector<load_error> *warnings) {
  size_t start = 0;
  while (start + 1 < size) {
    size_t end = utf16_line_end(bytes, size, start);
    bool line_feed = end + 1 < size;
    if (!line_feed && !last)
      break;
    size_t stop = end;
    if (stop - start >= 2 && bytes[stop - 2] == '\r' && bytes[stop - 1] == '\0')
      stop -= 2;
    if (!append_ascii_utf16(bytes + start, stop - start, text)) {
      std::string converted;
      if (size_t replaced =
              utf16le_to_cp932_default(std::string(bytes + start, stop - start), converted))
        warn(warnings, file_name, line, replaced_text(replaced), replaced_kind);
      text += converted;
    }
    text += '\n';
    ++line;
    start = line_feed ? end + 2 : end;
  }
  return start;
}

// The lines of a whole file's bytes, the header line first; false when the encoding is not
// one of a .reg file.
static bool text_lines(const std::string &bytes, const std::string &file_name, std::string &text,
                       load_error &error, std::vector<load_error> *warnings) {
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    int line = 1;
    size_t taken = append_utf16_lines(bytes.data() + 2, bytes.size() - 2, true, line, text,
                                      file_name, warnings);
    if (taken != bytes.size() - 2)
      return fail(error, file_name, line, "the file ends in the middle of a UTF-16 character");
    return true;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
    return fail(error, file_name, 1,
                "not an encoding of .reg files: use UTF-16LE with a byte-order mark or code page "
                "932 text");
  append_ansi_lines(bytes, text);
  return true;
}

// The format the header line (the text's first) names; false when it names none.
static bool read_header(const std::string &text, const std::string &file_name, reg_format &format,
                        load_error &error) {
  std::string_view header = trim(std::string_view(text).substr(0, text.find('\n')));
  if (header == header4)
    format = reg_format_regedit4;
  else if (header == header5)
    format = reg_format_regedit5;
  else
    return fail(error, file_name, 1,
                std::string("the first line must be \"") + header4 + "\" or \"" + header5 + "\"");
  return true;
}

// Checks the header line and reads the body after it.
static bool read_lines(const std::string &text, const std::string &file_name, reg_format &format,
                       const reg_sink &sink, load_error &error, std::vector<load_error> *warnings) {
  return read_header(text, file_name, format, error) &&
         read_body(text, text.find('\n') + 1, 1, format, file_name, sink, error, warnings);
}

// The warnings of the conversion come first: they are put in line order with the others.
static void sort_warnings(std::vector<load_error> *warnings, size_t first) {
  if (warnings)
    std::stable_sort(warnings->begin() + static_cast<std::ptrdiff_t>(first), warnings->end(),
                     [](const load_error &a, const load_error &b) { return a.line < b.line; });
}

bool read_reg_text(const std::string &bytes, const std::string &file_name, reg_format &format,
                   std::vector<reg_op> &ops, load_error &error, std::vector<load_error> *warnings) {
  size_t first_warning = warnings ? warnings->size() : 0;
  std::string text;
  if (!text_lines(bytes, file_name, text, error, warnings))
    return false;
  bool read = read_lines(text, file_name, format, append_to(ops), error, warnings);
  sort_warnings(warnings, first_warning);
  return read;
}

static const size_t file_block = 1 << 22;

// Moves the `kept` bytes at the end of `buffer` (a line that goes on) to its start and reads
// up to file_block more after them; returns how many bytes the buffer now holds, and whether
// the file goes on in `more`. The buffer grows only for a line longer than a block.
static size_t read_block(std::FILE *file, std::vector<char> &buffer, size_t used, size_t kept,
                         bool &more) {
  if (kept > 0) // the first block has no buffer to move in yet
    std::memmove(buffer.data(), buffer.data() + used - kept, kept);
  if (buffer.size() < kept + file_block) {
    buffer.reserve(kept + file_block); // no more: a vector would double
    buffer.resize(kept + file_block);
  }
  size_t got = std::fread(buffer.data() + kept, 1, file_block, file);
  more = got == file_block;
  return kept + got;
}

// Where the last key section that `text` may not hold whole starts: at its last key line
// after an empty line, as regedit separates sections (so that no value's continuation lines
// go on past it); `from` when there is none after it.
static size_t last_section(const std::string &text, size_t from) {
  size_t at = text.rfind("\n\n[");
  return at == std::string::npos || at + 2 <= from ? from : at + 2;
}

bool read_reg_file(const std::string &path, reg_format &format, const reg_sink &sink,
                   load_error &error, std::vector<load_error> *warnings) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file)
    return fail(error, path, 0, "cannot be read");
  size_t first_warning = warnings ? warnings->size() : 0;
  std::vector<char> buffer;
  bool more = true;
  size_t used = read_block(file, buffer, 0, 0, more);
  std::string text;
  // A Unicode file, a Windows 10 export of hundreds of megabytes, is converted and read a
  // block at a time: the text holds the key sections that the blocks so far have completed,
  // and is emptied as they are read. A code page 932 file (Windows 98's exports) is read
  // whole.
  bool unicode = used >= 2 && buffer[0] == '\xFF' && buffer[1] == '\xFE';
  bool read = true;
  if (unicode) {
    int line = 1;
    size_t at = 2;
    bool header = false;
    // The format is the header's, taken when the first block is in.
    reg_reader r = new_reader(text, 0, 1, reg_format_regedit5, path, sink, error, warnings);
    for (;;) {
      at += append_utf16_lines(buffer.data() + at, used - at, !more, line, text, path, warnings);
      if (!header && !text.empty()) {
        read = read_header(text, path, format, error);
        r.format = format;
        r.next = text.find('\n') + 1;
        header = true;
      }
      if (header && read) {
        read = read_lines_to(r, more ? last_section(text, r.next) : text.size());
        text.erase(0, r.next);
        r.next = 0;
      }
      if (!more || !read)
        break;
      used = read_block(file, buffer, used, used - at, more);
      at = 0;
    }
    if (read && !header)
      read = read_header(text, path, format, error);
    if (read && at != used)
      read = fail(error, path, line, "the file ends in the middle of a UTF-16 character");
  } else {
    std::string bytes(buffer.data(), used);
    while (more) {
      used = read_block(file, buffer, used, 0, more);
      bytes.append(buffer.data(), used);
    }
    read = text_lines(bytes, path, text, error, warnings);
    bytes = std::string();
    read = read && read_lines(text, path, format, sink, error, warnings);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    return fail(error, path, 0, "cannot be read");
  sort_warnings(warnings, first_warning);
  return read;
}

bool read_reg_file(const std::string &path, reg_format &format, reg_op_list &ops, load_error &error,
                   std::vector<load_error> *warnings) {
  return read_reg_file(
      path, format, [&ops](const reg_op &op) { add_reg_op(ops, op); }, error, warnings);
}

// ---- Keeping operations -----------------------------------------------------------------

// Each operation: kind, whether its key follows, type and line, then its key (where it is
// not that of the operation before), name and data, each after its length.
static const size_t reg_op_block = 1 << 20;

static void put_number(std::string &block, uint32_t n) {
  char bytes[4];
  std::memcpy(bytes, &n, 4);
  block.append(bytes, 4);
}

static void put_text(std::string &block, const std::string &text) {
  put_number(block, static_cast<uint32_t>(text.size()));
  block += text;
}

void add_reg_op(reg_op_list &list, const reg_op &op) {
  bool new_key = list.count == 0 || op.key != list.last_key;
  size_t size =
      2 + 4 + 4 + (new_key ? 4 + op.key.size() : 0) + 4 + op.name.size() + 4 + op.data.size();
  if (list.blocks.empty() || list.blocks.back().size() + size > list.blocks.back().capacity()) {
    list.blocks.emplace_back();
    list.blocks.back().reserve(std::max(size, reg_op_block));
  }
  std::string &block = list.blocks.back();
  block += static_cast<char>(op.kind);
  block += static_cast<char>(new_key);
  put_number(block, op.type);
  put_number(block, static_cast<uint32_t>(op.line));
  if (new_key) {
    put_text(block, op.key);
    list.last_key = op.key;
  }
  put_text(block, op.name);
  put_text(block, op.data);
  ++list.count;
}

static uint32_t take_number(const std::string &block, size_t &at) {
  uint32_t n = 0;
  std::memcpy(&n, block.data() + at, 4);
  at += 4;
  return n;
}

static void take_text(const std::string &block, size_t &at, std::string &text) {
  uint32_t size = take_number(block, at);
  text.assign(block, at, size);
  at += size;
}

void for_each_reg_op(const reg_op_list &list, const std::function<void(const reg_op &)> &visit) {
  reg_op op;
  for (const std::string &block : list.blocks)
    for (size_t at = 0; at < block.size();) {
      op.kind = static_cast<reg_op::kind_t>(block[at]);
      bool new_key = block[at + 1] != 0;
      at += 2;
      op.type = take_number(block, at);
      op.line = static_cast<int>(take_number(block, at));
      if (new_key)
        take_text(block, at, op.key);
      take_text(block, at, op.name);
      take_text(block, at, op.data);
      visit(op);
    }
}

// ---- Applying ---------------------------------------------------------------------------

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

// regedit writes keys in name order, so a control set's content under CurrentControlSet comes
// before SYSTEM\Select, whose "Current" names the numbered set that CurrentControlSet stands
// for. Select's values are therefore set first, wherever the file has them.
static bool select_value(const reg_op &op) {
  return op.kind == reg_op::set_value && ascii_iequal(op.key, "SYSTEM\\Select");
}

void apply_reg(const std::vector<reg_op> &ops) {
  for (const reg_op &op : ops)
    if (select_value(op))
      apply_op(op);
  for (const reg_op &op : ops)
    apply_op(op);
}

void apply_reg(const reg_op_list &ops) {
  for_each_reg_op(ops, [](const reg_op &op) {
    if (select_value(op))
      apply_op(op);
  });
  for_each_reg_op(ops, apply_op);
}

void apply_reg(const reg_op &op, sim::registry_tree &tree) {
  switch (op.kind) {
  case reg_op::add_key:
    if (!op.key.empty())
      sim::tree_add_key(tree, op.key);
    break;
  case reg_op::delete_key:
    sim::tree_delete_key(tree, op.key);
    break;
  case reg_op::set_value:
    sim::tree_set_value(tree, op.key, op.name, op.type, op.data);
    break;
  case reg_op::delete_value:
    sim::tree_delete_value(tree, op.key, op.name);
    break;
  }
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

bool write_reg_key(reg_format format, const std::string &path,
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
    written = written && write_reg_key(format, path, values, text, problem);
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

// Encoding conversions through iconv, whole strings at a time.
#include "tools/encoding.h"

#include "core/cp932.h"

#include <iconv.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <utility>

namespace {
// The converters opened so far, by target and source, closed when the program ends.
struct open_converters {
  std::map<std::pair<std::string, std::string>, iconv_t> by_names;
  ~open_converters() {
    for (auto &c : by_names)
      if (c.second != reinterpret_cast<iconv_t>(-1))
        iconv_close(c.second);
  }
};
} // namespace

// One converter per direction, opened once: a large .reg file is converted line by line.
static iconv_t converter(const char *to, const char *from) {
  static open_converters converters;
  auto &open = converters.by_names;
  auto key = std::make_pair(std::string(to), std::string(from));
  auto it = open.find(key);
  if (it == open.end())
    it = open.emplace(key, iconv_open(to, from)).first;
  iconv_t c = it->second;
  if (c != reinterpret_cast<iconv_t>(-1))
    iconv(c, nullptr, nullptr, nullptr, nullptr); // back to the initial state
  return c;
}

static bool convert(const char *to, const char *from, const std::string &in, std::string &out) {
  iconv_t c = converter(to, from);
  if (c == reinterpret_cast<iconv_t>(-1))
    return false;
  out.assign(in.size() * 4 + 8, '\0');
  char *in_ptr = const_cast<char *>(in.data());
  size_t in_left = in.size();
  char *out_ptr = &out[0];
  size_t out_left = out.size();
  size_t result = iconv(c, &in_ptr, &in_left, &out_ptr, &out_left);
  out.resize(out.size() - out_left);
  return result != static_cast<size_t>(-1) && in_left == 0;
}

size_t utf16le_to_cp932_default(const std::string &utf16, std::string &out) {
  iconv_t c = converter("CP932", "UTF-16LE");
  out.assign(utf16.size() * 2 + 8, '\0');
  char *in_ptr = const_cast<char *>(utf16.data());
  size_t in_left = utf16.size() & ~static_cast<size_t>(1);
  char *out_ptr = &out[0];
  size_t out_left = out.size();
  size_t replaced = 0;
  while (in_left > 0) {
    if (c != reinterpret_cast<iconv_t>(-1) &&
        iconv(c, &in_ptr, &in_left, &out_ptr, &out_left) != static_cast<size_t>(-1))
      break;
    // A character the code page lacks, or a surrogate without its partner: one default
    // character for the code unit (two for a pair, which is one character).
    unsigned unit = static_cast<unsigned char>(in_ptr[0]) | static_cast<unsigned char>(in_ptr[1])
                                                                << 8;
    size_t skip = 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && in_left >= 4) {
      unsigned next = static_cast<unsigned char>(in_ptr[2]) | static_cast<unsigned char>(in_ptr[3])
                                                                  << 8;
      if (next >= 0xDC00 && next <= 0xDFFF)
        skip = 4;
    }
    *out_ptr++ = '?';
    --out_left;
    in_ptr += skip;
    in_left -= skip;
    ++replaced;
    if (c != reinterpret_cast<iconv_t>(-1))
      iconv(c, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - out_left);
  return replaced;
}

bool cp932_to_utf8(const std::string &cp932, std::string &out) {
  return convert("UTF-8", "CP932", cp932, out);
}

bool utf8_to_cp932(const std::string &utf8, std::string &out) {
  return convert("CP932", "UTF-8", utf8, out);
}

bool utf16le_to_cp932(const std::string &utf16, std::string &out) {
  return utf16.size() % 2 == 0 && convert("CP932", "UTF-16LE", utf16, out);
}

bool cp932_to_utf16le(const std::string &cp932, std::string &out) {
  return convert("UTF-16LE", "CP932", cp932, out);
}

bool ascii_iequal(const std::string &a, const std::string &b) {
  return a.size() == b.size() && ascii_upper(a) == ascii_upper(b);
}

std::string ascii_upper(const std::string &s) {
  std::string out = s;
  cp932_upper_bytes(&out[0], out.size());
  return out;
}

size_t char_count(const std::string &s) {
  return cp932_char_count(s.data(), s.size());
}

size_t find_char_of(const std::string &s, const char *set) {
  size_t at = cp932_find_first_of(s.data(), s.size(), set);
  return at == s.size() ? std::string::npos : at;
}

size_t rfind_char_of(const std::string &s, const char *set) {
  size_t at = cp932_find_last_of(s.data(), s.size(), set);
  return at == s.size() ? std::string::npos : at;
}

bool ascii_starts_with(std::string_view text, const char *prefix) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i == text.size() || (text[i] != prefix[i] && upper(text[i]) != upper(prefix[i])))
      return false;
  return true;
}

std::string display_utf8(const std::string &cp932) {
  std::string out;
  if (cp932_to_utf8(cp932, out))
    return out;
  // Convert character by character so that one bad byte does not hide the rest.
  out.clear();
  for (size_t i = 0; i < cp932.size();) {
    size_t length = cp932_char_size(cp932.data() + i, cp932.size() - i);
    std::string piece;
    if (cp932_to_utf8(cp932.substr(i, length), piece)) {
      out += piece;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(cp932[i]));
      out += hex;
      length = 1;
    }
    i += length;
  }
  return out;
}

std::string trim_backslashes(const std::string &s) {
  size_t end = 0;
  for (size_t i = 0; i < s.size();) {
    size_t length = cp932_char_size(s.data() + i, s.size() - i);
    if (length == 2 || s[i] != '\\')
      end = i + length;
    i += length;
  }
  return s.substr(0, end);
}

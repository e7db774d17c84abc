// Encoding conversions through iconv, whole strings at a time.
#include "tools/encoding.h"

#include "core/cp932.h"

#include <iconv.h>

#include <cctype>
#include <cstdio>

static bool convert(const char *to, const char *from, const std::string &in, std::string &out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1))
    return false;
  out.assign(in.size() * 4 + 8, '\0');
  char *in_ptr = const_cast<char *>(in.data());
  size_t in_left = in.size();
  char *out_ptr = &out[0];
  size_t out_left = out.size();
  size_t result = iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  out.resize(out.size() - out_left);
  return result != static_cast<size_t>(-1) && in_left == 0;
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
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i])))
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
    size_t length =
        cp932_is_lead_byte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
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

// Code-page-932 string operations. A character is one byte, or two when it starts with a lead
// byte and the next byte is not the terminator; characters are compared by their code
// (lead byte * 256 + trail byte), as the ANSI multibyte comparisons of Windows do.
#include "core/cp932.h"

const char *cp932_next(const char *p) {
  return p + (cp932_is_lead_byte(static_cast<unsigned char>(p[0])) && p[1] != 0 ? 2 : 1);
}

size_t cp932_char_count(const char *text, size_t size) {
  size_t count = 0;
  for (size_t i = 0; i < size; i += cp932_char_size(text + i, size - i))
    ++count;
  return count;
}

static int in_set(char c, const char *set) {
  for (; *set; ++set)
    if (*set == c)
      return 1;
  return 0;
}

size_t cp932_find_first_of(const char *text, size_t size, const char *set) {
  for (size_t i = 0; i < size;) {
    size_t length = cp932_char_size(text + i, size - i);
    if (length == 1 && in_set(text[i], set))
      return i;
    i += length;
  }
  return size;
}

size_t cp932_find_last_of(const char *text, size_t size, const char *set) {
  size_t found = size;
  for (size_t i = 0; i < size;) {
    size_t length = cp932_char_size(text + i, size - i);
    if (length == 1 && in_set(text[i], set))
      found = i;
    i += length;
  }
  return found;
}

// The character at `text` and its length in bytes.
static unsigned read_char(const char *text, size_t *length) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  *length = static_cast<size_t>(cp932_next(text) - text);
  return *length == 2 ? (p[0] << 8) | p[1] : p[0];
}

// The letters that have a case: ASCII, and of the double-byte letters full-width Latin (Ａ..Ｚ /
// ａ..ｚ), Greek (Α..Ω / α..ω), and the two runs of Cyrillic (А..Н / а..н and О..Я / о..я: the
// code page leaves 0x847F out between the lower-case runs). Single-byte and double-byte codes
// never overlap.
unsigned cp932_lower_char(unsigned c) {
  if (c < 0x80)
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  if (c >= 0x8260 && c <= 0x8279)
    return c + 0x21;
  if (c >= 0x839F && c <= 0x83B6)
    return c + 0x20;
  if (c >= 0x8440 && c <= 0x844E)
    return c + 0x30;
  if (c >= 0x844F && c <= 0x8460)
    return c + 0x31;
  return c;
}

void cp932_upper_bytes(char *text, size_t size) {
  for (size_t i = 0; i < size;) {
    size_t length = cp932_char_size(text + i, size - i);
    unsigned char *p = reinterpret_cast<unsigned char *>(text + i);
    if (length == 2) {
      unsigned c = cp932_upper_char(static_cast<unsigned>(p[0] << 8 | p[1]));
      p[0] = static_cast<unsigned char>(c >> 8);
      p[1] = static_cast<unsigned char>(c & 0xFF);
    } else {
      p[0] = static_cast<unsigned char>(cp932_upper_char(p[0]));
    }
    i += length;
  }
}

static unsigned to_upper(unsigned c) {
  return cp932_upper_char(c);
}

static unsigned to_lower(unsigned c) {
  return cp932_lower_char(c);
}

static unsigned same_char(unsigned c) {
  return c;
}

// Compares after mapping each character through `map`, over at most `count` characters, or
// over `count` bytes when `count_bytes` is set: a double-byte character cut by that bound is
// compared by its lead byte only.
static int compare_mapped(const char *a, const char *b, size_t count, unsigned (*map)(unsigned),
                          int count_bytes) {
  while (count > 0) {
    size_t length_a, length_b;
    unsigned ca = map(read_char(a, &length_a));
    unsigned cb = map(read_char(b, &length_b));
    if (count_bytes && count == 1) {
      ca = static_cast<unsigned char>(*a);
      cb = static_cast<unsigned char>(*b);
    }
    if (ca != cb)
      return ca < cb ? -1 : 1;
    size_t step = count_bytes ? length_a : 1;
    if (ca == 0 || count <= step)
      return 0;
    count -= step;
    a += length_a;
    b += length_b;
  }
  return 0;
}

static const size_t no_limit = ~static_cast<size_t>(0);

int cp932_compare(const char *a, const char *b) {
  return compare_mapped(a, b, no_limit, same_char, 0);
}

int cp932_compare_nocase(const char *a, const char *b) {
  return compare_mapped(a, b, no_limit, to_upper, 0);
}

int cp932_compare_chars(const char *a, const char *b, size_t count) {
  return compare_mapped(a, b, count, same_char, 0);
}

int cp932_compare_bytes(const char *a, const char *b, size_t count) {
  return compare_mapped(a, b, count, same_char, 1);
}

void cp932_lower(char *text) {
  while (*text) {
    size_t length;
    unsigned c = to_lower(read_char(text, &length));
    if (length == 2) {
      text[0] = static_cast<char>(c >> 8);
      text[1] = static_cast<char>(c & 0xFF);
    } else {
      text[0] = static_cast<char>(c);
    }
    text += length;
  }
}

char *cp932_copy(char *target, size_t target_size, const char *source) {
  if (target_size == 0)
    return target;
  size_t used = 0;
  while (source[used] != 0) {
    size_t length;
    read_char(source + used, &length);
    if (used + length > target_size - 1)
      break;
    for (size_t i = 0; i < length; ++i)
      target[used + i] = source[used + i];
    used += length;
  }
  for (size_t i = used; i < target_size; ++i)
    target[i] = 0;
  return target;
}

size_t bounded_length(const char *text, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (text[i] == 0)
      return i;
  return size;
}

int append_text(char *target, size_t target_size, const char *source) {
  size_t used = bounded_length(target, target_size);
  if (used == target_size)
    return 0;
  size_t length = 0;
  while (source[length] != 0)
    ++length;
  if (used + length + 1 > target_size)
    return 0;
  for (size_t i = 0; i <= length; ++i)
    target[used + i] = source[i];
  return 1;
}

int append_number(char *target, size_t target_size, unsigned value, int min_digits) {
  char reversed[12] = {};
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && count < 10);
  while (count < min_digits && count < 10)
    reversed[count++] = '0';
  char digits[12] = {};
  for (int i = 0; i < count; ++i)
    digits[i] = reversed[count - 1 - i];
  digits[count] = 0;
  return append_text(target, target_size, digits);
}

// String operations on ANSI text of code page 932 (Shift-JIS). A double-byte character is
// recognised by its lead byte (0x81-0x9F, 0xE0-0xFC) and is never split; a lead byte followed
// by the terminator counts as a single byte, so no walk ever steps over a terminator.
#pragma once

#include <stddef.h>

// 1 when the byte starts a double-byte character. Inline: the hosted tools step through
// hundreds of megabytes of text with it.
inline int cp932_is_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
// The character after the one at `p`: two bytes on for a lead byte, one otherwise, and one
// for a lead byte followed by the terminator. Walks that stop at the terminator therefore
// never pass it, and a trail byte (which may be 0x5C, the backslash) is never read as a
// character of its own.
const char *cp932_next(const char *p);
// The same step over text of known size: the length in bytes (1 or 2) of the character at `p`
// when `left` bytes remain (at least 1). A lead byte at the end, or before a zero byte, is a
// character of its own, as with cp932_next. Inline, as cp932_is_lead_byte.
inline size_t cp932_char_size(const char *p, size_t left) {
  return left >= 2 && cp932_is_lead_byte(static_cast<unsigned char>(p[0])) && p[1] != 0 ? 2 : 1;
}
// Number of characters in `size` bytes (a double-byte character counts as one).
size_t cp932_char_count(const char *text, size_t size);
// Where the first character of `size` bytes that is one of the single-byte characters of
// `set` starts, walking characters (a trail byte such as the 0x5C of ソ or the 0x7C of
// ポ is never found); `size` when there is none.
size_t cp932_find_first_of(const char *text, size_t size, const char *set);
// Where the last such character starts; `size` when there is none.
size_t cp932_find_last_of(const char *text, size_t size, const char *set);

// Case folding of one character, given by its code (the byte, or lead byte * 256 + trail
// byte): ASCII letters and the double-byte letters of the code page (full-width Latin, Greek,
// Cyrillic). Every other code is returned as it is, so lengths and boundaries never change.
inline unsigned cp932_upper_char(unsigned c) {
  if (c < 0x80)
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  if (c >= 0x8281 && c <= 0x829A)
    return c - 0x21;
  if (c >= 0x83BF && c <= 0x83D6)
    return c - 0x20;
  if (c >= 0x8470 && c <= 0x847E)
    return c - 0x30;
  if (c >= 0x8480 && c <= 0x8491)
    return c - 0x31;
  return c;
}
unsigned cp932_lower_char(unsigned code);
// Upper-cases `size` bytes in place, character by character.
void cp932_upper_bytes(char *text, size_t size);

// Exact comparison: <0, 0 or >0, in character order.
int cp932_compare(const char *a, const char *b);
// Comparison without regard to letter case: ASCII letters and the double-byte letters of the
// code page (full-width Latin, Greek, Cyrillic) compared in upper case.
int cp932_compare_nocase(const char *a, const char *b);
// Exact comparison of at most `count` characters (a double-byte character counts as one).
int cp932_compare_chars(const char *a, const char *b, size_t count);
// Exact comparison of at most `count` bytes; a double-byte character cut by the bound
// is compared by its lead byte only.
int cp932_compare_bytes(const char *a, const char *b, size_t count);
// Lower-cases the string in place (ASCII and the double-byte letters above).
void cp932_lower(char *text);
// Copies `source` into `target` of `target_size` bytes: at most target_size - 1 bytes, never
// half a double-byte character, and every byte after the copied text set to zero.
// Returns `target`. A target_size of 0 copies nothing.
char *cp932_copy(char *target, size_t target_size, const char *source);

// Length in bytes of a string that is known to end within `size` bytes; `size` when no
// terminator lies within the bound (so a caller never reads past a fixed buffer).
size_t bounded_length(const char *text, size_t size);
// Appends `source` to the terminated string in `target` (of `target_size` bytes) only when
// the whole of it fits with its terminator; returns 1 when appended, else 0 with `target`
// unchanged. Paths and messages are built with it so that nothing is ever cut and used.
int append_text(char *target, size_t target_size, const char *source);
// Appends `value` in decimal, with at least `min_digits` digits (leading zeros), under the
// same rule as append_text.
int append_number(char *target, size_t target_size, unsigned value, int min_digits);

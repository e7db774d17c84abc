// Conversions between the encodings the rehearsal tool meets: code page 932 (what the
// simulated machine and the uninstaller hold), UTF-8 (the terminal and our machine files)
// and UTF-16LE (the Unicode .reg format).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Each returns false, leaving `out` unspecified, when the input is not valid in its encoding
// or a character has no counterpart in the target.
bool cp932_to_utf8(const std::string &cp932, std::string &out);
bool utf8_to_cp932(const std::string &utf8, std::string &out);
bool utf16le_to_cp932(const std::string &utf16, std::string &out);
bool cp932_to_utf16le(const std::string &cp932, std::string &out);

// UTF-16LE to code page 932 as Windows' ANSI functions hand Unicode names and texts to their
// callers (WideCharToMultiByte with the code page's default character): each character the
// code page lacks, and each surrogate without its partner, becomes the default character
// '?'. Best-fit replacements are not simulated. Returns how many characters were replaced;
// an odd last byte is ignored.
size_t utf16le_to_cp932_default(const std::string &utf16, std::string &out);

// For display: converts what it can; a byte that is not valid code page 932 shows as "\xNN".
std::string display_utf8(const std::string &cp932);

// Equality without regard to letter case, as Windows compares registry and file names: the
// ASCII letters and the code page's double-byte letters (core/cp932), character by character,
// so that a trail byte is never taken for a letter (ヂ is 0x83 0x61, ア 0x83 0x41).
bool ascii_iequal(const std::string &a, const std::string &b);
// Whether `text` starts with `prefix` (ASCII) in any letter case; no copy is made.
bool ascii_starts_with(std::string_view text, const char *prefix);
// The name upper-cased under the same rule; byte lengths do not change.
std::string ascii_upper(const std::string &s);

// Code-page-932 text walked by characters (core/cp932): the number of characters, and where
// the first / last single-byte character of `set` starts (std::string::npos for none).
size_t char_count(const std::string &s);
size_t find_char_of(const std::string &s, const char *set);
size_t rfind_char_of(const std::string &s, const char *set);
// The text without its trailing backslashes (a trail byte 0x5C, as of ソ, stays).
std::string trim_backslashes(const std::string &s);

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

// Equality without regard to ASCII letter case, as Windows compares registry and file names.
bool ascii_iequal(const std::string &a, const std::string &b);
// Whether `text` starts with `prefix` (ASCII) in any letter case; no copy is made.
bool ascii_starts_with(std::string_view text, const char *prefix);

// The code-page-932 string operations on arbitrary bytes with random bounds. Each string lies
// in a block of exactly its size, so that AddressSanitizer sees any read past its terminator.
#include "core/cp932.h"
#include "core/file_kind.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The byte lengths of the characters of `text`, as the operations walk it.
static std::vector<size_t> character_starts(const char *text) {
  std::vector<size_t> starts;
  size_t i = 0;
  while (text[i] != 0) {
    starts.push_back(i);
    i += cp932_is_lead_byte(static_cast<unsigned char>(text[i])) && text[i + 1] != 0 ? 2 : 1;
  }
  starts.push_back(i);
  return starts;
}

static int sign(int value) {
  return (value > 0) - (value < 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3)
    return 0;
  size_t bound = data[0] | (data[1] & 1) << 8; // 0 .. 511
  size_t split = size > 3 ? data[2] % (size - 2) : 0;
  std::vector<char> a(data + 3, data + 3 + split);
  a.push_back('\0');
  std::vector<char> b(data + 3 + split, data + size);
  b.push_back('\0');

  // Bounded copy: terminated, a prefix of whole characters, as long as fits, zero-filled.
  std::vector<char> target(bound, '\x55');
  cp932_copy(target.data(), bound, a.data());
  if (bound > 0) {
    if (target[bound - 1] != 0)
      abort();
    size_t copied = strlen(target.data());
    if (memcmp(target.data(), a.data(), copied) != 0)
      abort();
    std::vector<size_t> starts = character_starts(a.data());
    size_t fits = 0;
    for (size_t start : starts)
      if (start <= bound - 1)
        fits = start;
    if (copied != fits)
      abort();
    for (size_t i = copied; i < bound; ++i)
      if (target[i] != 0)
        abort();
  }

  // Comparisons: reflexive and antisymmetric; the bounded ones agree with the whole one
  // where the bound covers both strings.
  if (cp932_compare(a.data(), a.data()) != 0 || cp932_compare_nocase(b.data(), b.data()) != 0)
    abort();
  if (sign(cp932_compare(a.data(), b.data())) != -sign(cp932_compare(b.data(), a.data())))
    abort();
  if (sign(cp932_compare_nocase(a.data(), b.data())) !=
      -sign(cp932_compare_nocase(b.data(), a.data())))
    abort();
  if (sign(cp932_compare_chars(a.data(), b.data(), bound)) !=
      -sign(cp932_compare_chars(b.data(), a.data(), bound)))
    abort();
  cp932_compare_bytes(a.data(), b.data(), bound);
  cp932_compare_bytes(b.data(), a.data(), bound);
  if (bound > a.size() + b.size()) {
    if (sign(cp932_compare_chars(a.data(), b.data(), bound)) !=
        sign(cp932_compare(a.data(), b.data())))
      abort();
    if (sign(cp932_compare_bytes(a.data(), b.data(), bound)) !=
        sign(cp932_compare(a.data(), b.data())))
      abort();
  }
  if (cp932_compare(a.data(), b.data()) == 0 && cp932_compare_nocase(a.data(), b.data()) != 0)
    abort();

  // Lower-casing: same length, idempotent, no ASCII capital left outside double-byte
  // characters, and equal to the original without regard to case.
  std::vector<char> lowered = a;
  cp932_lower(lowered.data());
  if (strlen(lowered.data()) != strlen(a.data()))
    abort();
  std::vector<char> twice = lowered;
  cp932_lower(twice.data());
  if (twice != lowered)
    abort();
  for (size_t start : character_starts(lowered.data())) {
    unsigned char c = static_cast<unsigned char>(lowered[start]);
    if (c >= 'A' && c <= 'Z')
      abort();
  }
  if (cp932_compare_nocase(lowered.data(), a.data()) != 0)
    abort();

  // Appending and lengths within a bound; the kind of any name.
  std::vector<char> buffer(bound + 1, '\0');
  memcpy(buffer.data(), b.data(), std::min(b.size() - 1, bound));
  size_t before = bounded_length(buffer.data(), buffer.size());
  int appended = append_text(buffer.data(), buffer.size(), a.data());
  size_t after = bounded_length(buffer.data(), buffer.size());
  if (after >= buffer.size())
    abort();
  if (appended ? after != before + strlen(a.data()) : after != before)
    abort();
  int kind = classify_file_kind(a.data());
  if (kind < 0 || kind > 4)
    abort();
  return 0;
}

// The command line: cutting the program name off an arbitrary command line, and the check of
// the word that is left, in both modes.
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "core/run_state.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

static const char *const accepted_nt[] = {"", "--default", "-D", "--complete", "-C"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  int mode = data[0] & 1 ? MODE_NT : MODE_WIN98;
  // The command line in a block of exactly its size, so that a read past its end is seen.
  std::vector<char> line(data + 1, data + size);
  line.push_back('\0');
  size_t length = strlen(line.data());
  const char *tail = cut_command_tail(line.data());
  if (tail < line.data() || tail > line.data() + length)
    abort();
  // The tail starts with neither a blank nor a control character.
  if (*tail != 0 && static_cast<unsigned char>(*tail) <= ' ')
    abort();
  reset_process_state();
  set_mode(mode);
  int accepted = check_option(tail);
  bool listed = mode == MODE_WIN98 && *tail == 0;
  if (mode == MODE_NT)
    for (const char *word : accepted_nt)
      if (strcmp(tail, word) == 0)
        listed = true;
  if ((accepted == 1) != listed)
    abort();
  if (mode == MODE_NT && accepted)
    if (get_option_flag() != (strcmp(tail, "--complete") == 0 || strcmp(tail, "-C") == 0))
      abort();
  if (mode == MODE_WIN98 && get_option_flag() != 0)
    abort();
  return 0;
}

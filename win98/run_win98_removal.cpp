// The Windows 98 removal sequence.
#include "core/binding.h"
#include "core/removal.h"

int run_win98_removal() {
  if (!bind_win98_functions())
    return 0;
  return unbind_win98_functions();
}

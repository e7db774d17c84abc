// The Windows 2000 removal sequence.
#include "core/binding.h"
#include "core/removal.h"

int run_nt_removal(int option_flag) {
  (void)option_flag;
  if (!bind_nt_functions())
    return 0;
  return unbind_nt_functions();
}

// The program's entry point. There is no C or C++ runtime: the loader jumps straight here,
// so nothing is initialised behind our back and every global must be constant-initialised.
#include "core/account.h"
#include "core/entry.h"
#include "platform/windows_api.h"

// Built once for each Windows target, so the pointer size names the edition.
int program_edition() {
  return sizeof(void *) == 4 ? EDITION_32_BIT : EDITION_64_BIT;
}

// The run's account of itself is for the hosted rehearsal: this program keeps none, writes
// nothing and shows nothing of it.
void mark_step(int, int) {}
void mark_failure(const char *, DWORD, const run_subject &) {}
void mark_kept(const run_subject &, int) {}

// Named as the image's entry point at link time. It never returns: ExitProcess ends the
// process with the uninstaller's result (-1 shows up as exit code 0xFFFFFFFF).
extern "C" void uninstaller_entry() {
  const char *command_tail = cut_command_tail(GetCommandLineA());
  ExitProcess(static_cast<UINT>(uninstaller_main(command_tail)));
}

// Hosted build only: back to the state the process starts with.
#include "core/hosted/reset.h"

#include "core/binding.h"
#include "core/entry.h"
#include "core/process_state.h"

static int hosted_edition = EDITION_64_BIT;

int program_edition() {
  return hosted_edition;
}

void set_program_edition(int edition) {
  hosted_edition = edition;
}

static void clear_table(library_table *table) {
  table->module = nullptr;
  for (FARPROC &slot : table->slots)
    slot = nullptr;
}

void reset_process_state() {
  for (auto &name : catalogue_oem_inf_names)
    for (char &byte : name)
      byte = 0;
  hosted_edition = EDITION_64_BIT;
  run_mode = 0;
  run_option_flag = 0;
  run_restart_pending = 0;
  for (auto &row : model_status)
    for (int &flag : row)
      flag = 0;
  clear_table(&nt_setupapi_table);
  clear_table(&nt_advapi32_table);
  clear_table(&nt_kernel32_table);
  clear_table(&win98_advapi32_table);
  clear_table(&win98_kernel32_table);
}

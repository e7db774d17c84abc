// The storage behind the catalogue's run-time field, the run state and the status table.
// Only their own files and the hosted build's reset reach it directly.
#pragma once

#include "core/catalogue.h"

enum {
  FLAG_WIN98_REGISTRY,
  FLAG_WIN98_FILES,
  FLAG_NT_DEVICE,
  FLAG_NT_SERVICE,
  FLAG_NT_FILES,
  FLAG_NT_OEM_INF,
  FLAG_COUNT
};

extern char catalogue_oem_inf_names[MODEL_COUNT][NAME_SIZE];
extern int run_mode;
extern int run_option_flag;
extern int run_restart_pending;
extern int model_status[MODEL_COUNT][FLAG_COUNT];

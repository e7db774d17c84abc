// The Windows directory and the system directory, read through a bound kernel32 table.
#pragma once

#include "core/binding.h"
#include "core/catalogue.h"

// Each reads its folder into a NAME_SIZE buffer. On failure it reports the call under the
// folder's caption and returns 0. A folder that does not fit the buffer is a failure too: the
// call then leaves the buffer unfilled, and a path built on it would name some other file.
int read_windows_directory(const library_table &kernel32, char *buffer);
int read_system_directory(const library_table &kernel32, char *buffer);

// The two folders the file steps build their paths on.
struct folders {
  char windows[NAME_SIZE];
  char system[NAME_SIZE];
};
// Reads the Windows directory, then the system directory. At the first failure (reported) it
// writes the failure mark to the model's flag through `set_failure_status` and returns 0.
int read_folders(const library_table &kernel32, folders *f, int model,
                 void (*set_failure_status)(int model, int value));

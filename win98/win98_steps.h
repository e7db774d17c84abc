// The Windows 98 removal steps.
#pragma once

#include <stddef.h>

// Builds the full path of a Windows 98 catalogue file: VxD and SYS files lie in the system
// directory, INF and PNF files in the Windows directory's "inf" folder (an entry may name a
// subfolder of it, such as OTHER\). Returns 1 with the path built, 0 when the name's kind has
// no folder or the path would not fit `path_size` (a cut path would name another file).
int win98_file_path(char *path, size_t path_size, const char *windows_directory,
                    const char *system_directory, const char *name);

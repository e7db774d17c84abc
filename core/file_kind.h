// The kind of a catalogue file name, from its last three characters in any letter case, and
// the folder each kind of file lies in.
#pragma once

#include <stddef.h>

enum {
  FILE_KIND_OTHER = 0,
  FILE_KIND_SYS = 1,
  FILE_KIND_VXD = 2,
  FILE_KIND_INF = 3,
  FILE_KIND_PNF = 4,
};

int classify_file_kind(const char *name);

// path = folder + separator + name in `path_size` bytes; 0 with `path` empty when it would not
// fit, since a cut path names another file.
int join_path(char *path, size_t path_size, const char *folder, const char *separator,
              const char *name);

// The full path of a file of the model's Windows 2000 list: SYS files in the system
// directory's "drivers" folder, INF and PNF files in the Windows directory's "inf" folder.
// 0 with `path` empty when the kind has no folder there or the path would not fit.
int nt_file_path(char *path, size_t path_size, const char *windows_directory,
                 const char *system_directory, const char *name);
// The same for the Windows 98 list, on either family: VxD and SYS files directly in the system
// directory, INF and PNF files in the "inf" folder (an entry may name a subfolder of it, such
// as OTHER\).
int win98_file_path(char *path, size_t path_size, const char *windows_directory,
                    const char *system_directory, const char *name);

// Rewrites the last three characters of `name` (a double-byte character counts as one) to
// "pnf" and zero-fills the rest of its `size`-byte field: "oem7.inf" becomes "oem7.pnf", the
// name of the precompiled twin beside an INF. 0, with the name unchanged, when it is shorter
// than three characters.
int set_pnf_extension(char *name, size_t size);

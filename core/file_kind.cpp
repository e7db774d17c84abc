// File kind from the last three characters of a name, whatever their case, and the two
// placements of the catalogue's file lists by kind.
#include "core/file_kind.h"

#include "core/catalogue.h"
#include "core/cp932.h"

static const char *const kind_suffixes[] = {"sys", "vxd", "inf", "pnf"};

int classify_file_kind(const char *name) {
  if (!name)
    return FILE_KIND_OTHER;
  char work[NAME_SIZE];
  cp932_copy(work, sizeof work, name);
  cp932_lower(work);
  size_t length = bounded_length(work, sizeof work);
  if (length < 3)
    return FILE_KIND_OTHER;
  for (int kind = 0; kind < 4; ++kind)
    if (cp932_compare_chars(work + length - 3, kind_suffixes[kind], 3) == 0)
      return kind + 1;
  return FILE_KIND_OTHER;
}

int join_path(char *path, size_t path_size, const char *folder, const char *separator,
              const char *name) {
  if (path_size == 0)
    return 0;
  path[0] = 0;
  if (append_text(path, path_size, folder) && append_text(path, path_size, separator) &&
      append_text(path, path_size, name))
    return 1;
  path[0] = 0;
  return 0;
}

// The folder of one kind: the system directory or the Windows directory, and the separator
// that leads from it to the file; no separator for a kind that has no folder in the list.
struct placement {
  int in_system_directory;
  const char *separator;
};

// Indexed by file kind: other, sys, vxd, inf, pnf.
static const placement nt_placements[] = {
    {0, nullptr}, {1, "\\drivers\\"}, {0, nullptr}, {0, "\\inf\\"}, {0, "\\inf\\"}};
static const placement win98_placements[] = {
    {0, nullptr}, {1, "\\"}, {1, "\\"}, {0, "\\inf\\"}, {0, "\\inf\\"}};

static int place_file(const placement *placements, char *path, size_t path_size,
                      const char *windows_directory, const char *system_directory,
                      const char *name) {
  const placement &place = placements[classify_file_kind(name)];
  if (!place.separator) {
    if (path_size > 0)
      path[0] = 0;
    return 0;
  }
  return join_path(path, path_size,
                   place.in_system_directory ? system_directory : windows_directory,
                   place.separator, name);
}

int nt_file_path(char *path, size_t path_size, const char *windows_directory,
                 const char *system_directory, const char *name) {
  return place_file(nt_placements, path, path_size, windows_directory, system_directory, name);
}

int win98_file_path(char *path, size_t path_size, const char *windows_directory,
                    const char *system_directory, const char *name) {
  return place_file(win98_placements, path, path_size, windows_directory, system_directory, name);
}

int set_pnf_extension(char *name, size_t size) {
  const char *starts[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  for (const char *p = name; *p; p = cp932_next(p))
    starts[count++ % 3] = p;
  if (count < 3)
    return 0;
  char *extension = name + (starts[(count - 3) % 3] - name);
  extension[0] = 'p';
  extension[1] = 'n';
  extension[2] = 'f';
  for (char *rest = extension + 3; rest < name + size; ++rest)
    *rest = 0;
  return 1;
}

// Where a Windows 98 catalogue file lies. Also used on Windows 2000 for the files that a
// Windows 98 installation left there.
#include "core/cp932.h"
#include "core/file_kind.h"
#include "win98/win98_steps.h"

int win98_file_path(char *path, size_t path_size, const char *windows_directory,
                    const char *system_directory, const char *name) {
  if (path_size == 0)
    return 0;
  path[0] = 0;
  int ok;
  switch (classify_file_kind(name)) {
  case FILE_KIND_SYS:
  case FILE_KIND_VXD:
    ok = append_text(path, path_size, system_directory) && append_text(path, path_size, "\\") &&
         append_text(path, path_size, name);
    break;
  case FILE_KIND_INF:
  case FILE_KIND_PNF:
    ok = append_text(path, path_size, windows_directory) &&
         append_text(path, path_size, "\\inf\\") && append_text(path, path_size, name);
    break;
  default:
    ok = 0;
  }
  if (!ok)
    path[0] = 0;
  return ok;
}

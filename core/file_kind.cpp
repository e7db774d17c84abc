// File kind from the last three characters of a name, whatever their case.
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
